// Registry values that we share with other programs: the handler values of a
// file type's shellex keys, the machine's property handler for .kvd and its
// property lists, which a program that takes .kvd over writes with its own. Windows Installer removes a value of the Registry table by
// name whatever it holds, so removal would delete the other program's
// handler, and an upgrade would replace it with ours.
//
// NoteForeignValues (immediate, before the old product is removed) reads the
// values named by the Registry rows that KVD_SHARED_VALUES lists and hands
// those that hold another text than ours to RestoreForeignValues (deferred,
// after the registry is written), which puts them back.

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The Registry rows (their keys, separated by ';') whose values may be taken over.
constexpr wchar_t kSharedValuesProperty[] = L"KVD_SHARED_VALUES";
// Windows Installer hands a deferred action the property named after it.
constexpr wchar_t kRestoreAction[] = L"RestoreForeignValues";
constexpr wchar_t kRestoreData[] = L"CustomActionData";
// The Registry table's values live in the 64-bit view (Win64 components).
constexpr REGSAM kView = KEY_WOW64_64KEY;

constexpr wchar_t kFieldSeparator = L'|';
constexpr wchar_t kRecordSeparator = L'\n';

struct RegistryValue {
  int root = -1;  // as the Registry table's Root column
  std::wstring key;
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

void Log(MSIHANDLE install, const std::wstring& text) {
  PMSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringW(record, 0, text.c_str());
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

// Windows Installer's way of handing out text: its length first, then the text.
template <typename Read>
std::wstring InstallerText(Read read) {
  DWORD length = 0;
  wchar_t empty[1] = {};
  if (read(empty, &length) != ERROR_MORE_DATA) return {};
  std::wstring text(++length, L'\0');
  if (read(text.data(), &length) != ERROR_SUCCESS) return {};
  text.resize(length);
  return text;
}

std::wstring GetProperty(MSIHANDLE install, const wchar_t* name) {
  return InstallerText([&](wchar_t* text, DWORD* length) { return MsiGetPropertyW(install, name, text, length); });
}

std::wstring RecordString(MSIHANDLE record, UINT field) {
  return InstallerText([&](wchar_t* text, DWORD* length) { return MsiRecordGetStringW(record, field, text, length); });
}

// A Registry column resolved as Windows Installer writes it ([KVD_FILE_TYPE] and the like).
std::wstring Formatted(MSIHANDLE install, const std::wstring& column) {
  PMSIHANDLE record = MsiCreateRecord(0);
  MsiRecordSetStringW(record, 0, column.c_str());
  return InstallerText([&](wchar_t* text, DWORD* length) { return MsiFormatRecordW(install, record, text, length); });
}

// The Registry table's key ends in a backslash where wixl writes it.
std::wstring WithoutTrailingBackslashes(std::wstring key) {
  while (!key.empty() && key.back() == L'\\') key.pop_back();
  return key;
}

HKEY RootKey(int root) {
  switch (root) {
    case 0: return HKEY_CLASSES_ROOT;
    case 1: return HKEY_CURRENT_USER;
    case 2: return HKEY_LOCAL_MACHINE;
    default: return nullptr;  // -1, by ALLUSERS: none of our rows
  }
}

// Reads the live value; false when there is none.
bool ReadValue(RegistryValue& value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(RootKey(value.root), value.key.c_str(), 0, KEY_QUERY_VALUE | kView, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LONG read = RegQueryValueExW(key, value.name.c_str(), nullptr, &value.type, nullptr, &size);
  if (read == ERROR_SUCCESS) {
    value.data.resize(size);
    read = RegQueryValueExW(key, value.name.c_str(), nullptr, &value.type, value.data.data(), &size);
    value.data.resize(size);
  }
  RegCloseKey(key);
  return read == ERROR_SUCCESS;
}

// The text of a string value up to its first NUL.
std::wstring_view TextOf(const RegistryValue& value) {
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return {};
  const std::wstring_view text(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / sizeof(wchar_t));
  return text.substr(0, text.find(L'\0'));
}

// Class identifiers differ in case only between writers.
bool EqualIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
  return std::ranges::equal(a, b, {}, lower, lower);
}

// The deferred action's data: one record a line, each field in hexadecimal
// (key and name as UTF-16), so that no text of another program can break it.
void AppendHex(std::wstring& out, const void* bytes, std::size_t size) {
  constexpr wchar_t kDigits[] = L"0123456789abcdef";
  for (std::size_t i = 0; i < size; ++i) {
    const BYTE byte = static_cast<const BYTE*>(bytes)[i];
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
}

std::wstring Encode(const RegistryValue& value) {
  std::wstring record = std::to_wstring(value.root);
  record += kFieldSeparator;
  AppendHex(record, value.key.data(), value.key.size() * sizeof(wchar_t));
  record += kFieldSeparator;
  AppendHex(record, value.name.data(), value.name.size() * sizeof(wchar_t));
  record += kFieldSeparator;
  record += std::to_wstring(value.type);
  record += kFieldSeparator;
  AppendHex(record, value.data.data(), value.data.size());
  return record;
}

bool DecodeHex(std::wstring_view hex, std::vector<BYTE>& bytes) {
  const auto digit = [](wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
  };
  if (hex.size() % 2 != 0) return false;
  bytes.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]);
    const int low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<BYTE>(high << 4 | low));
  }
  return true;
}

bool DecodeText(std::wstring_view hex, std::wstring& text) {
  std::vector<BYTE> bytes;
  if (!DecodeHex(hex, bytes) || bytes.size() % sizeof(wchar_t) != 0) return false;
  text.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  return true;
}

std::vector<std::wstring_view> Split(std::wstring_view text, wchar_t separator) {
  std::vector<std::wstring_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::wstring_view::npos) return parts;
    start = end + 1;
  }
}

bool Decode(std::wstring_view record, RegistryValue& value) {
  const std::vector<std::wstring_view> fields = Split(record, kFieldSeparator);
  if (fields.size() != 5) return false;
  value.root = static_cast<int>(std::wcstol(std::wstring(fields[0]).c_str(), nullptr, 10));
  value.type = static_cast<DWORD>(std::wcstoul(std::wstring(fields[3]).c_str(), nullptr, 10));
  return DecodeText(fields[1], value.key) && DecodeText(fields[2], value.name) && DecodeHex(fields[4], value.data);
}

bool WriteValue(const RegistryValue& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(RootKey(value.root), value.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | kView,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG set = RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                                  static_cast<DWORD>(value.data.size()));
  RegCloseKey(key);
  return set == ERROR_SUCCESS;
}

// The Registry row REGISTRY_ID, resolved; false when the table has no such row.
bool SharedValue(MSIHANDLE install, const std::wstring& registryId, RegistryValue& value, std::wstring& ours) {
  PMSIHANDLE database = MsiGetActiveDatabase(install);
  PMSIHANDLE view;
  if (MsiDatabaseOpenViewW(database, L"SELECT `Root`, `Key`, `Name`, `Value` FROM `Registry` WHERE `Registry` = ?",
                           &view) != ERROR_SUCCESS) {
    return false;
  }
  PMSIHANDLE parameters = MsiCreateRecord(1);
  MsiRecordSetStringW(parameters, 1, registryId.c_str());
  PMSIHANDLE row;
  if (MsiViewExecute(view, parameters) != ERROR_SUCCESS || MsiViewFetch(view, &row) != ERROR_SUCCESS) return false;
  value.root = MsiRecordGetInteger(row, 1);
  value.key = WithoutTrailingBackslashes(Formatted(install, RecordString(row, 2)));
  value.name = Formatted(install, RecordString(row, 3));
  ours = Formatted(install, RecordString(row, 4));
  return RootKey(value.root) != nullptr;
}

}  // namespace

// Immediate: notes each shared value that holds another text than ours.
extern "C" UINT WINAPI NoteForeignValues(MSIHANDLE install) {
  const std::wstring shared = GetProperty(install, kSharedValuesProperty);
  std::wstring foreign;
  for (const std::wstring_view id : Split(shared, L';')) {
    if (id.empty()) continue;
    RegistryValue value;
    std::wstring ours;
    if (!SharedValue(install, std::wstring(id), value, ours)) {
      Log(install, L"KvdThumb: no Registry row " + std::wstring(id) + L" to keep another program's value of");
      return ERROR_INSTALL_FAILURE;
    }
    if (!ReadValue(value) || EqualIgnoringAsciiCase(TextOf(value), ours)) continue;
    Log(install, L"KvdThumb: keeping another program's value " + value.key + L"\\" + value.name);
    if (!foreign.empty()) foreign += kRecordSeparator;
    foreign += Encode(value);
  }
  return MsiSetPropertyW(install, kRestoreAction, foreign.c_str());
}

// Deferred, after the registry is written: puts the noted values back.
extern "C" UINT WINAPI RestoreForeignValues(MSIHANDLE install) {
  const std::wstring records = GetProperty(install, kRestoreData);
  for (const std::wstring_view record : Split(records, kRecordSeparator)) {
    if (record.empty()) continue;
    RegistryValue value;
    if (!Decode(record, value) || RootKey(value.root) == nullptr || !WriteValue(value)) {
      Log(install, L"KvdThumb: could not put back another program's value");
      return ERROR_INSTALL_FAILURE;
    }
  }
  return ERROR_SUCCESS;
}
