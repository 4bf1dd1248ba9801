#pragma once

#include <cstddef>

namespace kvd::wine {

// The kernel handles the process holds. Wine's GetProcessHandleCount answers
// 0, so every handle value is probed instead.
std::size_t CountOpenHandles();

}  // namespace kvd::wine
