// The exports of KvdPropertyDll that name its class: KvdPropertyHandler.

#include "property_handler/kvd_property_handler.h"
#include "property_handler/property_registration.h"
#include "shell_module/class_factory.h"
#include "shell_module/module_exports.h"
#include "shell_module/registration.h"

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  return kvd::GetClassObject<kvd::KvdPropertyHandler>(kvd::CLSID_KvdPropertyHandler, rclsid, riid, ppv);
}

// The class, then where Explorer shows the properties, then the listing that
// makes Windows use the class for .kvd.
STDAPI DllRegisterServer() {
  HRESULT result = kvd::RegisterIn(HKEY_CLASSES_ROOT, kvd::kPropertyHandlerClass);
  if (kvd::Failed(result)) return result;
  result = kvd::WritePropertyLists(HKEY_CLASSES_ROOT);
  if (kvd::Failed(result)) return result;
  return kvd::WritePropertyHandlerListing();
}

STDAPI DllUnregisterServer() {
  HRESULT result = kvd::DeletePropertyHandlerListing();
  if (kvd::Failed(result)) return result;
  result = kvd::DeletePropertyLists(HKEY_CLASSES_ROOT);
  if (kvd::Failed(result)) return result;
  return kvd::UnregisterFrom(HKEY_CLASSES_ROOT, kvd::kPropertyHandlerClass);
}
