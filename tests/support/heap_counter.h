#pragma once

#include <cstddef>

namespace kvd::testing {

// Counts the bytes the process holds on the heap (operator new allocates
// through malloc, so every allocation is seen), so that a test can bound what
// one operation costs.

// Bytes allocated and not yet freed.
std::size_t HeapBytesInUse();

// The most bytes in use at any moment since the measurement began, above what
// was in use when it began.
class HeapPeak {
 public:
  HeapPeak();
  std::size_t BytesAboveStart() const;

 private:
  std::size_t start_;
};

}  // namespace kvd::testing
