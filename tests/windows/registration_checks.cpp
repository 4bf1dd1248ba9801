// Registration as regsvr32 performs it, read back from the registry: every
// key, value name, type and datum, what unregistration leaves, and what COM
// then makes of the class.

#include <windows.h>
#include <objbase.h>
#include <thumbcache.h>

#include <algorithm>
#include <sstream>
#include <utility>
#include <vector>

#include "check.h"
#include "shell_host.h"
#include "shell_module/module_state.h"

namespace kvd::wine {
namespace {

// The shell looks for thumbnail handlers under the IThumbnailProvider interface identifier.
constexpr wchar_t kThumbnailHandler[] = L"\\shellex\\{e357fccd-a995-4576-b01f-234630154e96}";
constexpr wchar_t kClassName[] = L"KvdThumbDll.KvdThumbnailProvider Class";
constexpr wchar_t kTestProgId[] = L"KvdThumbTest.Document";

std::wstring ClassKey() { return L"CLSID\\" + ClassIdText(); }
std::wstring ServerKey() { return ClassKey() + L"\\InprocServer32"; }

struct Value {
  std::wstring name;  // empty: the default value
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const Value&) const = default;
};

struct Key {
  std::vector<Value> values;
  std::vector<std::wstring> subkeys;
};

// A REG_SZ value as the module must store it: UTF-16 text with its terminating NUL.
Value TextValue(std::wstring name, const std::wstring& text) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return {std::move(name), REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

bool KeyExists(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

Key ReadKey(HKEY key) {
  Key contents;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    DWORD type = 0;
    BYTE data[2048];
    DWORD dataSize = sizeof data;
    const LONG result = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (!KVD_CHECK_EQ(result, ERROR_SUCCESS)) break;
    contents.values.push_back({std::wstring(name, nameLength), type, std::vector<BYTE>(data, data + dataSize)});
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    const LONG result = RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (!KVD_CHECK_EQ(result, ERROR_SUCCESS)) break;
    contents.subkeys.emplace_back(name, nameLength);
  }
  return contents;
}

std::string DescribeValue(const Value& value) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
    text.push_back(static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8)));
  }
  std::ostringstream described;
  described << '"' << Narrow(value.name) << "\" type " << value.type << ' ' << value.data.size() << " bytes \""
            << Narrow(text) << '"';
  return described.str();
}

// The key holds exactly these values and subkeys, nothing more.
void CheckKey(const std::wstring& path, const std::vector<Value>& values, const std::vector<std::wstring>& subkeys) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    ReportFailure(__FILE__, __LINE__, "missing key HKCR\\" + Narrow(path));
    return;
  }
  const Key actual = ReadKey(key);
  RegCloseKey(key);
  for (const Value& value : values) {
    if (std::find(actual.values.begin(), actual.values.end(), value) == actual.values.end()) {
      ReportFailure(__FILE__, __LINE__, "HKCR\\" + Narrow(path) + " lacks " + DescribeValue(value));
    }
  }
  for (const Value& value : actual.values) {
    if (std::find(values.begin(), values.end(), value) == values.end()) {
      ReportFailure(__FILE__, __LINE__, "HKCR\\" + Narrow(path) + " holds unexpected " + DescribeValue(value));
    }
  }
  KVD_CHECK(actual.subkeys == subkeys);
}

void CheckRegisteredEntries(const std::wstring& fileType) {
  CheckKey(ClassKey(), {TextValue(L"", kClassName)}, {L"InprocServer32"});
  CheckKey(ServerKey(), {TextValue(L"", ModulePath()), TextValue(L"ThreadingModel", L"Apartment")}, {});
  CheckKey(fileType + kThumbnailHandler, {TextValue(L"", ClassIdText())}, {});
}

void CheckClassNotRegistered() {
  KVD_CHECK_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  void* object = &object;
  KVD_CHECK_EQ(CoCreateInstance(CLSID_KvdThumbnailProvider, nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IThumbnailProvider), &object),
               REGDB_E_CLASSNOTREG);
  KVD_CHECK_EQ(object, nullptr);
  CoUninitialize();
}

void SetClassesRootText(const std::wstring& path, const Value& value) {
  HKEY key = nullptr;
  if (!KVD_CHECK_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                    ERROR_SUCCESS)) {
    return;
  }
  KVD_CHECK_EQ(RegSetValueExW(key, value.name.empty() ? nullptr : value.name.c_str(), 0, value.type,
                              value.data.data(), static_cast<DWORD>(value.data.size())),
               ERROR_SUCCESS);
  RegCloseKey(key);
}

// With the class key gone there is nothing to delete, and the export says so.
void CheckUnregisteringAgainFails() {
  using UnregisterFunction = HRESULT(STDAPICALLTYPE*)();
  const HMODULE dll = LoadLibraryW(ModulePath().c_str());
  if (!KVD_CHECK(dll != nullptr)) return;
  const auto unregister = ModuleExport<UnregisterFunction>(dll, "DllUnregisterServer");
  if (KVD_CHECK(unregister != nullptr)) KVD_CHECK_EQ(unregister(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  KVD_CHECK(FreeLibrary(dll));
}

}  // namespace

int CheckNotRegistered() {
  CheckClassNotRegistered();
  return ExitStatus();
}

int CheckRegistration() {
  KVD_CHECK(!KeyExists(L".kvd"));
  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), false), 0UL);
  CheckRegisteredEntries(L".kvd");
  // Registering again changes nothing.
  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), false), 0UL);
  CheckRegisteredEntries(L".kvd");
  return ExitStatus();
}

int CheckUnregistration() {
  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), true), 0UL);
  KVD_CHECK(!KeyExists(ClassKey()));
  KVD_CHECK(!KeyExists(std::wstring(L".kvd") + kThumbnailHandler));
  // Keys made on the way stay.
  CheckKey(L".kvd", {}, {L"shellex"});
  CheckKey(L".kvd\\shellex", {}, {});
  CheckClassNotRegistered();
  CheckUnregisteringAgainFails();
  return ExitStatus();
}

int CheckRegistrationUnderProgId() {
  SetClassesRootText(L".kvd", TextValue(L"", kTestProgId));
  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), false), 0UL);
  CheckRegisteredEntries(kTestProgId);
  KVD_CHECK(!KeyExists(std::wstring(L".kvd") + kThumbnailHandler));

  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), true), 0UL);
  KVD_CHECK(!KeyExists(ClassKey()));
  CheckKey(kTestProgId, {}, {L"shellex"});
  CheckKey(std::wstring(kTestProgId) + L"\\shellex", {}, {});

  // Another program's handler, put there since we registered, stays.
  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), false), 0UL);
  const std::wstring handlerKey = kTestProgId + std::wstring(kThumbnailHandler);
  const Value foreignHandler = TextValue(L"", L"{11111111-2222-3333-4444-555555555555}");
  SetClassesRootText(handlerKey, foreignHandler);
  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), true), 0UL);
  KVD_CHECK(!KeyExists(ClassKey()));
  CheckKey(handlerKey, {foreignHandler}, {});

  // That handler, there before we register, is given back when we unregister.
  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), false), 0UL);
  CheckKey(handlerKey, {TextValue(L"", ClassIdText())}, {});
  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), true), 0UL);
  KVD_CHECK(!KeyExists(ClassKey()));
  CheckKey(handlerKey, {foreignHandler}, {});

  KVD_CHECK_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, kTestProgId), ERROR_SUCCESS);
  KVD_CHECK_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L".kvd"), ERROR_SUCCESS);
  return ExitStatus();
}

}  // namespace kvd::wine
