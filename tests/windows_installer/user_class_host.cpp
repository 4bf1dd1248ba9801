// kvd_user_class_host EXPECTATIONS_DIR: the provider as a per-user
// installation registers it. Windows merges the user's classes into
// HKEY_CLASSES_ROOT, Wine does not; so this host reads the class from
// HKEY_CURRENT_USER\Software\Classes, loads the DLL from the path found there
// and creates the provider through the DLL's class factory, as COM would, and
// compares its thumbnails with the native pipeline's.

#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <cstdio>
#include <string>

#include "check.h"
#include "expectations.h"
#include "shell_module/module_state.h"

namespace kvd::wine {
namespace {

std::wstring ServerKey() {
  wchar_t classId[64];
  StringFromGUID2(CLSID_KvdThumbnailProvider, classId, 64);
  return std::wstring(L"Software\\Classes\\CLSID\\") + classId + L"\\InprocServer32";
}

std::wstring UserClassText(const wchar_t* valueName) {
  wchar_t text[MAX_PATH];
  DWORD bytes = sizeof text;
  const LONG read =
      RegGetValueW(HKEY_CURRENT_USER, ServerKey().c_str(), valueName, RRF_RT_REG_SZ, nullptr, text, &bytes);
  return KVD_CHECK_EQ(read, ERROR_SUCCESS) ? std::wstring(text) : std::wstring();
}

// The provider's bits for one document, or nothing when a step failed.
std::vector<std::uint8_t> Render(IClassFactory* factory, const Expectation& expected) {
  IThumbnailProvider* provider = nullptr;
  if (!KVD_CHECK_EQ(factory->CreateInstance(nullptr, __uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider)),
                    S_OK)) {
    return {};
  }
  IInitializeWithStream* initialize = nullptr;
  KVD_CHECK_EQ(provider->QueryInterface(__uuidof(IInitializeWithStream), reinterpret_cast<void**>(&initialize)), S_OK);
  const std::vector<std::uint8_t> document = ReadFileBytes(expected.document);
  IStream* stream = SHCreateMemStream(document.data(), static_cast<UINT>(document.size()));
  std::vector<std::uint8_t> bits;
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  if (KVD_CHECK(initialize != nullptr && stream != nullptr) &&
      KVD_CHECK_EQ(initialize->Initialize(stream, STGM_READ), S_OK) &&
      KVD_CHECK_EQ(provider->GetThumbnail(expected.cx, &bitmap, &alpha), S_OK)) {
    DIBSECTION section{};
    if (KVD_CHECK_EQ(GetObjectW(bitmap, sizeof section, &section), static_cast<int>(sizeof section))) {
      const auto* start = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
      bits.assign(start, start + std::size_t{expected.cx} * expected.cx * 4);
    }
    DeleteObject(bitmap);
  }
  if (stream != nullptr) stream->Release();
  if (initialize != nullptr) initialize->Release();
  provider->Release();
  return bits;
}

int CheckUserClass(const std::filesystem::path& expectationsDir) {
  const std::wstring modulePath = UserClassText(nullptr);
  KVD_CHECK(UserClassText(L"ThreadingModel") == L"Apartment");
  const HMODULE module = LoadLibraryW(modulePath.c_str());
  if (!KVD_CHECK(module != nullptr)) return ExitStatus();
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto getClassObject =
      reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  void** factoryOut = reinterpret_cast<void**>(&factory);
  if (KVD_CHECK(getClassObject != nullptr) &&
      KVD_CHECK_EQ(getClassObject(CLSID_KvdThumbnailProvider, __uuidof(IClassFactory), factoryOut), S_OK)) {
    const std::vector<Expectation> expectations = ReadExpectations(expectationsDir);
    for (const Expectation& expected : expectations) CheckSameBits(Render(factory, expected), expected, "user class");
    std::printf("%zu thumbnails compared\n", expectations.size());
    factory->Release();
  }
  FreeLibrary(module);
  return ExitStatus();
}

}  // namespace
}  // namespace kvd::wine

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kvd_user_class_host EXPECTATIONS_DIR\n");
    return 2;
  }
  return kvd::wine::CheckUserClass(argv[1]);
}
