#pragma once

// The Wine test host drives KvdThumbDll.dll the way the Windows shell and
// regsvr32 do. Each scenario is one CTest test; they share these helpers.

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

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
std::string Narrow(const std::wstring& text);

// Runs regsvr32 silently on the module, as an installer does; its exit code.
DWORD RunRegsvr32(bool unregister);

// One exported function of the module, loaded by LoadLibrary and found by GetProcAddress.
template <typename Function>
Function ModuleExport(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Scenarios; each returns the program's exit status.
int CheckClassFactoryAndCounting();
int CheckNotRegistered();
int CheckRegistration();
int CheckUnregistration();
int CheckRegistrationUnderProgId();
int CheckThumbnails(const std::filesystem::path& expectationsDir);
int CheckConcurrentProviders(const std::filesystem::path& expectationsDir);
int CheckFuzzRegressions(const std::filesystem::path& regressionsDir);

}  // namespace kvd::wine
