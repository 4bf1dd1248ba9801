#pragma once

// What every Wine test host needs to find its DLL, register it as an
// installer does and read back what registration wrote.

#include <windows.h>

#include <string>

namespace kvd::wine {

// The DLL named fileName beside this program, where the build puts it.
std::wstring ModuleBesideProgram(const wchar_t* fileName);

// Runs regsvr32 silently on the module, as an installer does; its exit code.
DWORD RunRegsvr32(const std::wstring& modulePath, bool unregister);

// A REG_SZ value, or "<missing>".
std::wstring ReadRegistryText(HKEY root, const std::wstring& key, const wchar_t* name);

bool RegistryKeyExists(HKEY root, const std::wstring& key);

// ASCII as it is, anything else as '?': enough for a failure message.
std::string Narrow(const std::wstring& text);

}  // namespace kvd::wine
