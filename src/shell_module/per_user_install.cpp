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

// Removal tells the shell too: the user's thumbnails should go without a
// sign-out, as they came.
HRESULT InstallForUser(BOOL install, const WCHAR* commandLine, const ServerClass& served) {
  if (!IsPerUserCommand(commandLine)) return E_INVALIDARG;
  HKEY userClasses = nullptr;
  HRESULT result = HResultFromWin32(RegCreateKeyExW(HKEY_CURRENT_USER, kUserClassesKey, 0, nullptr,
                                                    REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE | DELETE, nullptr,
                                                    &userClasses, nullptr));
  if (Failed(result)) return result;
  if (install) {
    result = RegisterIn(userClasses, served);
  } else {
    result = UnregisterFrom(userClasses, served);
    if (!Failed(result)) SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  }
  RegCloseKey(userClasses);
  return result;
}

}  // namespace kvd
