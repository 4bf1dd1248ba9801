#include <new>

#include "shell_module/class_factory.h"
#include "shell_module/module_exports.h"
#include "shell_module/module_state.h"

using kvd::ClassFactory;
using kvd::g_moduleHandle;
using kvd::g_moduleUsageCount;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_moduleHandle = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != kvd::CLSID_KvdThumbnailProvider) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) ClassFactory();
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = factory->QueryInterface(riid, ppv);
  factory->Release();  // the caller's reference is now the only one, or none is left
  return result;
}

STDAPI DllCanUnloadNow() { return g_moduleUsageCount.load() > 0 ? S_FALSE : S_OK; }
