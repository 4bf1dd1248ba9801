// kvd_shell_host SCENARIO [EXPECTATIONS_DIR]: runs one scenario of the Wine
// tests against KvdThumbDll.dll.

#include "shell_host.h"

#include <objbase.h>

#include <cstdio>
#include <string_view>

#include "check.h"
#include "shell_module/module_state.h"

namespace kvd::wine {

std::wstring ModulePath() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  KVD_CHECK(length > 0 && length < MAX_PATH);
  return (std::filesystem::path(std::wstring(self, length)).parent_path() / L"KvdThumbDll.dll").wstring();
}

std::wstring ClassIdText() {
  wchar_t text[64];
  KVD_CHECK_EQ(StringFromGUID2(CLSID_KvdThumbnailProvider, text, 64), 39);
  return text;
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (const wchar_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return narrow;
}

DWORD RunRegsvr32(bool unregister) {
  std::wstring commandLine = L"regsvr32.exe /s ";
  if (unregister) commandLine += L"/u ";
  commandLine += L"\"" + ModulePath() + L"\"";
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

}  // namespace kvd::wine

int main(int argc, char** argv) {
  using namespace kvd::wine;
  const std::string_view scenario = argc > 1 ? argv[1] : "";
  if (scenario == "factory") return CheckClassFactoryAndCounting();
  if (scenario == "not-registered") return CheckNotRegistered();
  if (scenario == "register") return CheckRegistration();
  if (scenario == "unregister") return CheckUnregistration();
  if (scenario == "progid") return CheckRegistrationUnderProgId();
  if (scenario == "thumbnails" && argc == 3) return CheckThumbnails(argv[2]);
  if (scenario == "small-stacks" && argc == 3) return CheckSmallStacks(argv[2]);
  if (scenario == "unload-cycles" && argc == 3) return CheckUnloadCycles(argv[2]);
  if (scenario == "concurrency" && argc == 3) return CheckConcurrentProviders(argv[2]);
  if (scenario == "regressions" && argc == 3) return CheckFuzzRegressions(argv[2]);
  std::fprintf(stderr,
               "usage: kvd_shell_host (factory | not-registered | register | unregister | progid"
               " | (thumbnails | small-stacks | unload-cycles | concurrency) EXPECTATIONS_DIR | regressions FOLDER)\n");
  return 2;
}
