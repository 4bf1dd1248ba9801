#include "shell_module/module_exports.h"
#include "shell_module/module_state.h"

using kvd::g_moduleHandle;
using kvd::g_moduleUsageCount;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_moduleHandle = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return g_moduleUsageCount.load() > 0 ? S_FALSE : S_OK; }
