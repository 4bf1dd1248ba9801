// The exports of KvdPreviewDll that name its class: KvdPreviewHandler.

#include "preview_handler/kvd_preview_handler.h"
#include "preview_handler/preview_registration.h"
#include "shell_module/class_factory.h"
#include "shell_module/module_exports.h"
#include "shell_module/registration.h"

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  return kvd::GetClassObject<kvd::KvdPreviewHandler>(kvd::CLSID_KvdPreviewHandler, rclsid, riid, ppv);
}

STDAPI DllRegisterServer() {
  HRESULT result = kvd::RegisterServer(kvd::kPreviewHandlerClass);
  if (kvd::Failed(result)) return result;
  result = kvd::WritePreviewHandlerListing();
  if (kvd::Failed(result)) return result;
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return result;
}

STDAPI DllUnregisterServer() {
  const HRESULT result = kvd::UnregisterServer(kvd::kPreviewHandlerClass);
  if (kvd::Failed(result)) return result;
  return kvd::DeletePreviewHandlerListing();
}
