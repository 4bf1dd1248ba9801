// 32-bit code unwinds through DWARF tables, which the C++ runtime's unwinder
// registers as each module loads. It guards its list of tables with a mutex
// whose kernel semaphore it creates then and never closes, so each unload of
// a module leaked one handle, and a long-lived host that unloads idle servers
// gathered them without bound. This object stands in for the module's import
// of CreateSemaphoreW, which only the runtime's own code calls: it keeps each
// semaphore it creates and closes them as the module unloads. The first one
// is created while the module registers its tables, before the runtime
// arranges at exit to take them back, so the closing, arranged at that first
// creation, runs after the runtime's last use of the semaphores.

#include <windows.h>

#include <cstdlib>

namespace {

// The unwinder's mutex and, once a thread has thrown, that of the runtime's
// thread-local storage. A semaphore beyond these stays open, as before.
constexpr LONG kKeptSemaphores = 8;
HANDLE keptSemaphores[kKeptSemaphores];
LONG createdSemaphores = 0;

void CloseKeptSemaphores() {
  const LONG kept = createdSemaphores < kKeptSemaphores ? createdSemaphores : kKeptSemaphores;
  for (LONG i = 0; i < kept; ++i) CloseHandle(keptSemaphores[i]);
}

HANDLE WINAPI CreateKeptSemaphore(LPSECURITY_ATTRIBUTES attributes, LONG initialCount, LONG maximumCount,
                                  LPCWSTR name) {
  HANDLE semaphore = CreateSemaphoreExW(attributes, initialCount, maximumCount, name, 0, SEMAPHORE_ALL_ACCESS);
  if (semaphore == nullptr) return nullptr;
  const LONG slot = InterlockedIncrement(&createdSemaphores) - 1;
  if (slot == 0) std::atexit(CloseKeptSemaphores);
  if (slot < kKeptSemaphores) keptSemaphores[slot] = semaphore;
  return semaphore;
}

}  // namespace

// The import's address slot, by the name the runtime's code calls through.
extern "C" decltype(&CreateKeptSemaphore) const kvdCreateSemaphoreImport __asm__("__imp__CreateSemaphoreW@16");
extern "C" decltype(&CreateKeptSemaphore) const kvdCreateSemaphoreImport = CreateKeptSemaphore;
