// The installer's custom action: after the package has written or removed the
// thumbnail handler, the shell is told that file associations changed, so
// that Explorer picks up the change without a sign-out. It lives in its own
// DLL, carried in the package's Binary table, so that KvdThumbDll.dll exports
// only what a COM server exports.

#include <windows.h>
#include <msi.h>
#include <shlobj.h>

extern "C" UINT WINAPI NotifyAssociationsChanged(MSIHANDLE) {
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return ERROR_SUCCESS;
}
