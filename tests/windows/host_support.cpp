#include "host_support.h"

#include <filesystem>

#include "check.h"

namespace kvd::wine {

std::wstring ModuleBesideProgram(const wchar_t* fileName) {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  KVD_CHECK(length > 0 && length < MAX_PATH);
  return (std::filesystem::path(std::wstring(self, length)).parent_path() / fileName).wstring();
}

DWORD RunRegsvr32(const std::wstring& modulePath, bool unregister) {
  std::wstring commandLine = std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + modulePath + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!KVD_CHECK(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                &process))) {
    return GetLastError();
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  KVD_CHECK(GetExitCodeProcess(process.hProcess, &exitCode));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return exitCode;
}

std::wstring ReadRegistryText(HKEY root, const std::wstring& key, const wchar_t* name) {
  wchar_t text[1024];
  DWORD bytes = sizeof text;
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &bytes) != ERROR_SUCCESS) {
    return L"<missing>";
  }
  return text;
}

bool RegistryKeyExists(HKEY root, const std::wstring& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (const wchar_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return narrow;
}

}  // namespace kvd::wine
