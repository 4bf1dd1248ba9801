// Guards the first-use initialisation of function-local statics in every
// module, in place of the C++ runtime's own guard. That one serialises all
// such initialisations on a single lock that it creates as a kernel semaphore
// on first use and never closes, so each unload of a module that initialised
// a static leaked one handle; a long-lived host that unloads idle servers
// gathered them without bound. A slim reader/writer lock and a condition
// variable are plain memory: the module leaves nothing behind.
//
// The compiler checks the guard's first byte, without a call, for an object
// already initialised. The second byte marks an initialisation under way, and
// the word from byte 4 the thread doing it.

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <exception>

extern "C" {
int __cxa_guard_acquire(std::int64_t* guard) noexcept;
void __cxa_guard_release(std::int64_t* guard) noexcept;
void __cxa_guard_abort(std::int64_t* guard) noexcept;
}

namespace {

SRWLOCK guardLock = SRWLOCK_INIT;
CONDITION_VARIABLE guardSettled = CONDITION_VARIABLE_INIT;

constexpr std::size_t kReadyByte = 0;
constexpr std::size_t kPendingByte = 1;
constexpr std::size_t kInitialiserOffset = 4;

unsigned char* GuardBytes(std::int64_t* guard) { return reinterpret_cast<unsigned char*>(guard); }

bool IsReady(std::int64_t* guard) { return __atomic_load_n(GuardBytes(guard) + kReadyByte, __ATOMIC_ACQUIRE) != 0; }

DWORD Initialiser(std::int64_t* guard) {
  DWORD thread = 0;
  std::memcpy(&thread, GuardBytes(guard) + kInitialiserOffset, sizeof thread);
  return thread;
}

// Ends the initialisation under way, done or abandoned, and wakes the threads
// that wait for it.
void Settle(std::int64_t* guard, bool ready) {
  AcquireSRWLockExclusive(&guardLock);
  GuardBytes(guard)[kPendingByte] = 0;
  if (ready) __atomic_store_n(GuardBytes(guard) + kReadyByte, 1, __ATOMIC_RELEASE);
  ReleaseSRWLockExclusive(&guardLock);
  WakeAllConditionVariable(&guardSettled);
}

}  // namespace

// 1: the caller initialises the object and then releases the guard (or aborts
// it if the initialiser throws). 0: the object is ready.
int __cxa_guard_acquire(std::int64_t* guard) noexcept {
  if (IsReady(guard)) return 0;
  const DWORD self = GetCurrentThreadId();
  AcquireSRWLockExclusive(&guardLock);
  while (!IsReady(guard) && GuardBytes(guard)[kPendingByte] != 0) {
    // An object whose initialiser needs the object itself can never be ready.
    if (Initialiser(guard) == self) std::terminate();
    SleepConditionVariableSRW(&guardSettled, &guardLock, INFINITE, 0);
  }
  const bool mine = !IsReady(guard);
  if (mine) {
    GuardBytes(guard)[kPendingByte] = 1;
    std::memcpy(GuardBytes(guard) + kInitialiserOffset, &self, sizeof self);
  }
  ReleaseSRWLockExclusive(&guardLock);
  return mine ? 1 : 0;
}

void __cxa_guard_release(std::int64_t* guard) noexcept { Settle(guard, true); }

void __cxa_guard_abort(std::int64_t* guard) noexcept { Settle(guard, false); }
