// kvd_shell_host SCENARIO [EXPECTATIONS_DIR]: runs one scenario of the Wine
// tests against KvdThumbDll.dll.

#include "shell_host.h"

#include <objbase.h>

#include <cstdio>
#include <string_view>

#include "check.h"
#include "shell_module/module_state.h"

namespace kvd::wine {

std::wstring ModulePath() { return ModuleBesideProgram(L"KvdThumbDll.dll"); }

std::wstring ClassIdText() {
  wchar_t text[64];
  KVD_CHECK_EQ(StringFromGUID2(CLSID_KvdThumbnailProvider, text, 64), 39);
  return text;
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
