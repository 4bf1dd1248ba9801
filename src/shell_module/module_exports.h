#pragma once

// What the module exports, and its entry point. These are the names a
// Windows module definition file lists.

#include "platform/platform.h"

// Keeps the instance handle at process attach and turns off thread
// notifications; does nothing for any other reason.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// A new class factory for CLSID_KvdThumbnailProvider, handed out as riid.
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
// S_OK once no factory, provider or server lock is counted, else S_FALSE.
STDAPI DllCanUnloadNow();

// Write and delete the provider class and the .kvd thumbnail handler entries
// under HKEY_CLASSES_ROOT.
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();

// regsvr32 /n /i:user: install true writes the same entries under
// HKEY_CURRENT_USER\Software\Classes, for the current user only and without
// elevation; install false (regsvr32 /u /n /i:user) removes them. Any command
// line but "user" is refused with E_INVALIDARG.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine);
