// The exports of KvdThumbDll that name its class: KvdThumbnailProvider.

#include "shell_module/class_factory.h"
#include "shell_module/module_exports.h"
#include "shell_module/module_state.h"
#include "shell_module/registration.h"
#include "thumbnail_provider/kvd_thumbnail_provider.h"

namespace kvd {
namespace {

// The shell looks for thumbnail handlers under the IThumbnailProvider
// identifier, in lower case.
const ServerClass kThumbnailProviderClass{
    CLSID_KvdThumbnailProvider,
    KVD_WIDE("KvdThumbDll.KvdThumbnailProvider Class"),
    nullptr,
    nullptr,
    KVD_WIDE("%s\\shellex\\{e357fccd-a995-4576-b01f-234630154e96}"),
};

}  // namespace
}  // namespace kvd

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  return kvd::GetClassObject<kvd::KvdThumbnailProvider>(kvd::CLSID_KvdThumbnailProvider, rclsid, riid, ppv);
}

STDAPI DllRegisterServer() { return kvd::RegisterIn(HKEY_CLASSES_ROOT, kvd::kThumbnailProviderClass); }

STDAPI DllUnregisterServer() { return kvd::UnregisterFrom(HKEY_CLASSES_ROOT, kvd::kThumbnailProviderClass); }

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  return kvd::InstallForUser(install, commandLine, kvd::kThumbnailProviderClass);
}
