#pragma once

// How Explorer finds what it needs for .kvd files in the registry, read the
// way Windows merges it: the user's classes over the machine's, each registry
// view (64-bit, 32-bit) read by its own path, whatever the bitness of the
// doctor. Wine does not merge the user's classes into HKEY_CLASSES_ROOT, so
// the doctor merges them itself.

#include <windows.h>

#include <optional>
#include <string>

namespace kvd::windoctor {

std::string Utf8(const std::wstring& text);
// A registry text or a path from the system, safe to print on one line.
std::string Printable(const std::wstring& text);
// The system's message for a Win32 error or an HRESULT, with its number.
std::string ErrorText(HRESULT result);

// A registry view and the PE machines whose DLLs its programs load.
struct RegistryView {
  const char* name;              // "64-bit", "32-bit"
  const wchar_t* classesPrefix;  // below HKCU and HKLM: Software\Classes\ or its Wow6432Node
  bool ownBitness;               // the view the doctor itself runs in
};
const RegistryView& View64();
const RegistryView& View32();
const RegistryView& OwnView();

// A value read, with where it was found ("HKCU\Software\Classes\.kvd").
struct Found {
  std::wstring text;
  std::wstring where;
};

std::optional<std::wstring> ReadText(HKEY root, const std::wstring& keyPath, const wchar_t* valueName);
std::optional<DWORD> ReadDword(HKEY root, const std::wstring& keyPath, const wchar_t* valueName);
// HKCU or HKLM, as the report spells it.
std::wstring RootName(HKEY root);

// A value of the classes below prefix, the user's over the machine's.
std::optional<Found> ClassesText(const wchar_t* prefix, const std::wstring& keyPath, const wchar_t* valueName);

// The class that a shellex handler key names for .kvd, looked up as
// Explorer does: below the ProgID that .kvd names, then .kvd, then
// SystemFileAssociations\.kvd.
std::optional<Found> FindShellexHandler(const std::wstring& interfaceId);

// The class's in-process server in a view: the user's over the machine's.
struct ClassServer {
  std::wstring path;       // REG_EXPAND_SZ expanded
  std::wstring threading;  // "" when the value is missing
  std::wstring where;      // the InprocServer32 key
  bool perUser = false;
};
std::optional<ClassServer> FindClassServer(const std::wstring& classId, const RegistryView& view);

std::wstring ClassIdText(const CLSID& clsid);

}  // namespace kvd::windoctor
