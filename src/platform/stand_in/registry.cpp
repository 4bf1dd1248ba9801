#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "platform/stand_in/control.h"
#include "platform/stand_in/registry_state.h"
#include "platform/stand_in/win32.h"

// An open key: its hive and the path it was opened by. Calls look the key up
// afresh, so a handle to a key deleted meanwhile finds nothing.
struct HKEY__ {
  kvd::stand_in::RegistryContents* hive;
  std::u16string path;
};

namespace {

using kvd::stand_in::RegistryContents;
using kvd::stand_in::RegistryKey;
using kvd::stand_in::RegistryValue;

RegistryContents g_contents;
RegistryContents g_currentUserContents;
HKEY__ g_classesRoot{&g_contents, u""};
HKEY__ g_currentUser{&g_currentUserContents, u""};
LONG g_keyCreationFailure = ERROR_SUCCESS;
bool g_32BitProcess = false;

char16_t FoldAsciiCase(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char16_t a, char16_t b) { return FoldAsciiCase(a) == FoldAsciiCase(b); });
}

std::u16string_view TextOrEmpty(LPCWSTR text) { return text == nullptr ? std::u16string_view() : text; }

bool IsPredefined(HKEY key) { return key == &g_classesRoot || key == &g_currentUser; }

// The path below the hive of the key that subKey names below root.
std::u16string PathBelow(HKEY root, LPCWSTR subKey) {
  const std::u16string_view sub = TextOrEmpty(subKey);
  if (root->path.empty()) return std::u16string(sub);
  if (sub.empty()) return root->path;
  return root->path + u'\\' + std::u16string(sub);
}

// The path that a call with access sees at path (see RunAs32Bit).
std::u16string InView(const RegistryContents& hive, std::u16string path, REGSAM access) {
  const bool view32 = (access & KEY_WOW64_32KEY) != 0 || ((access & KEY_WOW64_64KEY) == 0 && g_32BitProcess);
  const std::u16string classes = &hive == &g_currentUserContents ? u"Software\\Classes\\" : u"";
  const std::u16string classIds = classes + u"CLSID";
  const bool classKey = StartsWithIgnoringCase(path, classIds) &&
                        (path.size() == classIds.size() || path[classIds.size()] == u'\\');
  if (view32 && classKey) path.insert(classes.size(), u"Wow6432Node\\");
  return path;
}

void CreateKeyWithParents(RegistryContents& hive, std::u16string_view path) {
  for (std::size_t end = path.find(u'\\');; end = path.find(u'\\', end + 1)) {
    hive.try_emplace(std::u16string(path.substr(0, end)));
    if (end == std::u16string_view::npos) return;
  }
}

RegistryKey* FindKey(RegistryContents& hive, std::u16string_view path) {
  const auto found = hive.find(path);
  return found == hive.end() ? nullptr : &found->second;
}

LONG OpenHandle(RegistryContents& hive, std::u16string path, HKEY* key) {
  try {
    *key = new HKEY__{&hive, std::move(path)};
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

void SeedValueIn(RegistryContents& hive, std::u16string_view path, std::u16string_view name, RegistryValue value) {
  CreateKeyWithParents(hive, path);
  hive.find(path)->second[std::u16string(name)] = std::move(value);
}

}  // namespace

const HKEY HKEY_CLASSES_ROOT = &g_classesRoot;
const HKEY HKEY_CURRENT_USER = &g_currentUser;

LONG RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access, const void*, HKEY* key,
                     DWORD*) {
  if (root == nullptr) return ERROR_INVALID_HANDLE;
  if (g_keyCreationFailure != ERROR_SUCCESS) return g_keyCreationFailure;
  try {
    std::u16string path = InView(*root->hive, PathBelow(root, subKey), access);
    CreateKeyWithParents(*root->hive, path);
    return OpenHandle(*root->hive, std::move(path), key);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD, REGSAM access, HKEY* key) {
  if (root == nullptr) return ERROR_INVALID_HANDLE;
  try {
    std::u16string path = InView(*root->hive, PathBelow(root, subKey), access);
    if (FindKey(*root->hive, path) == nullptr) return ERROR_FILE_NOT_FOUND;
    return OpenHandle(*root->hive, std::move(path), key);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  RegistryKey* values = FindKey(*key->hive, key->path);
  if (values == nullptr) return ERROR_FILE_NOT_FOUND;
  try {
    (*values)[std::u16string(TextOrEmpty(name))] = RegistryValue{type, {data, data + size}};
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  const RegistryKey* values = FindKey(*key->hive, key->path);
  if (values == nullptr) return ERROR_FILE_NOT_FOUND;
  const auto found = values->find(TextOrEmpty(name));
  if (found == values->end()) return ERROR_FILE_NOT_FOUND;
  const RegistryValue& value = found->second;
  if (type != nullptr) *type = value.type;
  const auto needed = static_cast<DWORD>(value.data.size());
  const bool fits = needed <= *size;
  *size = needed;
  if (!fits) return ERROR_MORE_DATA;
  std::copy(value.data.begin(), value.data.end(), data);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (!IsPredefined(key)) delete key;
  return ERROR_SUCCESS;
}

LONG RegDeleteTreeW(HKEY root, LPCWSTR subKey) {
  if (root == nullptr) return ERROR_INVALID_HANDLE;
  RegistryContents& hive = *root->hive;
  try {
    const std::u16string path = InView(hive, PathBelow(root, subKey), 0);
    if (FindKey(hive, path) == nullptr) return ERROR_FILE_NOT_FOUND;
    const std::u16string below = path + u'\\';
    hive.erase(hive.find(path));
    std::erase_if(hive, [&below](const auto& entry) { return StartsWithIgnoringCase(entry.first, below); });
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

namespace kvd::stand_in {

bool RegistryNameLess::operator()(std::u16string_view left, std::u16string_view right) const {
  return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                      [](char16_t a, char16_t b) { return FoldAsciiCase(a) < FoldAsciiCase(b); });
}

const RegistryContents& ClassesRoot() { return g_contents; }
const RegistryContents& CurrentUser() { return g_currentUserContents; }

void SeedKey(std::u16string_view path) { CreateKeyWithParents(g_contents, path); }

void SeedValue(std::u16string_view path, std::u16string_view name, RegistryValue value) {
  SeedValueIn(g_contents, path, name, std::move(value));
}

void SeedCurrentUserValue(std::u16string_view path, std::u16string_view name, RegistryValue value) {
  SeedValueIn(g_currentUserContents, path, name, std::move(value));
}

void FailKeyCreation(LONG error) { g_keyCreationFailure = error; }

void RunAs32Bit(bool yes) { g_32BitProcess = yes; }

void ResetRegistry() {
  g_contents.clear();
  g_currentUserContents.clear();
  g_keyCreationFailure = ERROR_SUCCESS;
  g_32BitProcess = false;
}

}  // namespace kvd::stand_in
