#include "shell_module/module_exports.h"
#include "shell_module/registration.h"

namespace kvd {
namespace {

// What regsvr32 /i:user hands over: the one installation DllInstall offers.
constexpr WCHAR kPerUserCommand[] = KVD_WIDE("user");
// The user's own classes, which Windows merges over the machine's into
// HKEY_CLASSES_ROOT.
constexpr WCHAR kUserClassesKey[] = KVD_WIDE("Software\\Classes");

bool IsPerUserCommand(const WCHAR* commandLine) {
  return commandLine != nullptr && EqualIgnoringAsciiCase(commandLine, kPerUserCommand);
}

}  // namespace
}  // namespace kvd

// Removal tells the shell too: the user's thumbnails should go without a
// sign-out, as they came.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  if (!kvd::IsPerUserCommand(commandLine)) return E_INVALIDARG;
  HKEY userClasses = nullptr;
  HRESULT result = kvd::HResultFromWin32(RegCreateKeyExW(HKEY_CURRENT_USER, kvd::kUserClassesKey, 0, nullptr,
                                                         REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE | DELETE,
                                                         nullptr, &userClasses, nullptr));
  if (kvd::Failed(result)) return result;
  if (install) {
    result = kvd::RegisterIn(userClasses);
  } else {
    result = kvd::UnregisterFrom(userClasses);
    if (!kvd::Failed(result)) SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  }
  RegCloseKey(userClasses);
  return result;
}
