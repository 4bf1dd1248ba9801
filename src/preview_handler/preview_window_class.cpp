#include "preview_handler/preview_window_class.h"

#include <cstdint>

#include "shell_module/module_state.h"

namespace kvd {

const WCHAR kPreviewWindowClassName[] = L"KvdPreviewHandlerWindow";

namespace {

// A slim lock needs no kernel object, so the module leaves none behind.
SRWLOCK classLock = SRWLOCK_INIT;
std::int32_t countedWindows = 0;  // guarded by classLock

HRESULT RegisterWindowClass(WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = g_moduleHandle;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.lpszClassName = kPreviewWindowClassName;
  // Still registered when a window outlived its handler's DestroyWindow; it
  // is this module's own class all the same.
  if (RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return S_OK;
  return LastErrorOr(E_FAIL);
}

}  // namespace

HRESULT AcquirePreviewWindowClass(WNDPROC procedure) {
  AcquireSRWLockExclusive(&classLock);
  const HRESULT result = countedWindows > 0 ? S_OK : RegisterWindowClass(procedure);
  if (!Failed(result)) ++countedWindows;
  ReleaseSRWLockExclusive(&classLock);
  return result;
}

void ReleasePreviewWindowClass() {
  AcquireSRWLockExclusive(&classLock);
  if (--countedWindows == 0) UnregisterClassW(kPreviewWindowClassName, g_moduleHandle);
  ReleaseSRWLockExclusive(&classLock);
}

}  // namespace kvd
