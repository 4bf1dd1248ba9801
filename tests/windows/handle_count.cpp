#include "handle_count.h"

#include <windows.h>

#include <cstdint>

namespace kvd::wine {
namespace {

// Handle values are multiples of 4 and handed out lowest first; a test
// process holds a few hundred at most.
constexpr std::uintptr_t kHandleStep = 4;
constexpr std::uintptr_t kHighestProbedHandle = 0x40000;

}  // namespace

std::size_t CountOpenHandles() {
  std::size_t open = 0;
  for (std::uintptr_t value = kHandleStep; value <= kHighestProbedHandle; value += kHandleStep) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
  }
  return open;
}

}  // namespace kvd::wine
