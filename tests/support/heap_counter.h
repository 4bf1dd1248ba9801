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

// Makes the Nth allocation from now on fail, as a system out of memory would:
// malloc and its family answer null and operator new throws. One allocation
// fails, later ones succeed again. Only where the malloc family is ours: under
// a sanitizer, which owns malloc, nothing is injected.
class AllocationFailure {
 public:
  static bool Available();

  explicit AllocationFailure(std::size_t nth);
  ~AllocationFailure();
  AllocationFailure(const AllocationFailure&) = delete;
  AllocationFailure& operator=(const AllocationFailure&) = delete;

  // Whether the Nth allocation has come (and failed).
  bool Struck() const;
};

}  // namespace kvd::testing
