#pragma once

// The tests' side of the stand-ins: seeding and inspecting the registry,
// choosing the module path, making calls fail, and reading what was recorded.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/stand_in/win32.h"

namespace kvd::stand_in {

// Orders registry names as Windows compares them: ASCII letters without
// regard to case.
struct RegistryNameLess {
  using is_transparent = void;
  bool operator()(std::u16string_view left, std::u16string_view right) const;
};

struct RegistryValue {
  DWORD type = 0;
  std::vector<BYTE> data;

  friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// Values by name; the default value has the empty name.
using RegistryKey = std::map<std::u16string, RegistryValue, RegistryNameLess>;
// Keys by their full path below HKEY_CLASSES_ROOT, e.g. u"CLSID\\{...}".
using RegistryContents = std::map<std::u16string, RegistryKey, RegistryNameLess>;

// Back to the start: an empty registry, the default module path, no failing
// calls, nothing recorded.
void Reset();

const RegistryContents& ClassesRoot();
// Keys by their full path below HKEY_CURRENT_USER, e.g. u"Software\\Classes".
const RegistryContents& CurrentUser();
// Each creates the key and every missing key above it.
void SeedKey(std::u16string_view path);
void SeedValue(std::u16string_view path, std::u16string_view name, RegistryValue value);
void SeedCurrentUserValue(std::u16string_view path, std::u16string_view name, RegistryValue value);
// From now on RegCreateKeyExW fails with error and creates nothing.
void FailKeyCreation(LONG error);
// The registry is that of a 64-bit Windows, whose 32-bit view has its own
// class keys: CLSID below either classes root (HKEY_CLASSES_ROOT, the user's
// Software\Classes) is Wow6432Node\CLSID there, and every other key is one
// for both views. A call sees the view its flag names (KEY_WOW64_64KEY,
// KEY_WOW64_32KEY), else the view of the process: from now on that of a
// 32-bit process when yes, of a 64-bit one (as after Reset) when not.
void RunAs32Bit(bool yes);

void SetModulePath(std::u16string path);
// From now on GetModuleFileNameW answers 0, and GetLastError then gives error
// (which may be 0: a failure that names no reason).
void FailModulePath(DWORD error);

// From now on CreateDIBSection answers null.
void FailDibSections();
// Every byte of a new section's memory, so that bytes nobody wrote stand out.
inline constexpr BYTE kUnwrittenDibByte = 0xCD;

struct ShellNotification {
  LONG event = 0;
  UINT flags = 0;
  LPCVOID item1 = nullptr;
  LPCVOID item2 = nullptr;

  friend bool operator==(const ShellNotification&, const ShellNotification&) = default;
};
const std::vector<ShellNotification>& ShellNotifications();

// The modules that DisableThreadLibraryCalls was called for, in order.
const std::vector<HMODULE>& ThreadCallsDisabled();

}  // namespace kvd::stand_in
