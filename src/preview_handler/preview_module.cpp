// The exports of KvdPreviewDll that name its class: KvdPreviewHandler.

#include "preview_handler/kvd_preview_handler.h"
#include "preview_handler/preview_registration.h"
#include "shell_module/class_factory.h"
#include "shell_module/module_exports.h"
#include "shell_module/registration.h"

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  return kvd::GetClassObject<kvd::KvdPreviewHandler>(kvd::CLSID_KvdPreviewHandler, rclsid, riid, ppv);
}

// The shell is told before the list of preview handlers names the class;
// it looks a handler up by the file type, not by that list.
STDAPI DllRegisterServer() {
  const HRESULT result = kvd::RegisterIn(HKEY_CLASSES_ROOT, kvd::kPreviewHandlerClass);
  if (kvd::Failed(result)) return result;
  return kvd::WritePreviewHandlerListing();
}

STDAPI DllUnregisterServer() {
  const HRESULT result = kvd::UnregisterFrom(HKEY_CLASSES_ROOT, kvd::kPreviewHandlerClass);
  if (kvd::Failed(result)) return result;
  return kvd::DeletePreviewHandlerListing();
}
