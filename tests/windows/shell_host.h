#pragma once

// The Wine test host drives KvdThumbDll.dll the way the Windows shell and
// regsvr32 do. Each scenario is one CTest test; they share these helpers.

#include <windows.h>
#include <thumbcache.h>

#include <cstdint>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host_support.h"

namespace kvd::wine {

struct Releaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
// Owns one reference to a COM object.
template <typename T>
using ComRef = std::unique_ptr<T, Releaser>;

// KvdThumbDll.dll beside this program, where the build puts it.
std::wstring ModulePath();
// The provider's class identifier as the registry spells it.
std::wstring ClassIdText();

// One exported function of the module, loaded by LoadLibrary and found by GetProcAddress.
template <typename Function>
Function ModuleExport(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

ComRef<IStream> MemoryStream(const std::vector<std::uint8_t>& bytes);

struct Thumbnail {
  HRESULT result = E_FAIL;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  std::vector<std::uint8_t> bits;
};

// GetThumbnail, and the returned bitmap checked to be a cx x cx, 32-bit,
// bottom-up DIB section; its bits are copied out and the bitmap deleted.
Thumbnail GetThumbnail(IInitializeWithStream* provider, std::uint32_t cx);

// Scenarios; each returns the program's exit status.
int CheckClassFactoryAndCounting();
int CheckNotRegistered();
int CheckRegistration();
int CheckUnregistration();
int CheckRegistrationUnderProgId();
int CheckThumbnails(const std::filesystem::path& expectationsDir);
int CheckSmallStacks(const std::filesystem::path& expectationsDir);
int CheckUnloadCycles(const std::filesystem::path& expectationsDir);
int CheckConcurrentProviders(const std::filesystem::path& expectationsDir);
int CheckFuzzRegressions(const std::filesystem::path& regressionsDir);

}  // namespace kvd::wine
