#include "support/heap_counter.h"

#include <atomic>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KVD_SANITIZED_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KVD_SANITIZED_HEAP 1
#endif
#endif

#ifdef KVD_SANITIZED_HEAP
// The sanitizer runtimes' allocator interface; GCC installs no header for it.
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*onAllocation)(const volatile void*, std::size_t),
                                              void (*onRelease)(const volatile void*));
std::size_t __sanitizer_get_allocated_size(const volatile void* block);
}
#else
#include <malloc.h>

#include <cerrno>
#endif

namespace kvd::testing {
namespace {

std::atomic<std::size_t> g_inUse{0};
std::atomic<std::size_t> g_peak{0};

// Allocations still to go before the injected failure; 0 when none is armed.
std::atomic<std::size_t> g_allocationsToFailure{0};
std::atomic<bool> g_failureStruck{false};

void CountAllocation(std::size_t bytes) {
  const std::size_t now = g_inUse.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  std::size_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void CountRelease(std::size_t bytes) { g_inUse.fetch_sub(bytes, std::memory_order_relaxed); }

}  // namespace

// True for the one allocation that is to fail.
bool InjectedFailure() {
  std::size_t left = g_allocationsToFailure.load(std::memory_order_relaxed);
  while (left > 0 && !g_allocationsToFailure.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
  }
  if (left != 1) return false;
  g_failureStruck = true;
  return true;
}

std::size_t HeapBytesInUse() { return g_inUse.load(); }

HeapPeak::HeapPeak() : start_(g_inUse.load()) { g_peak.store(start_); }

std::size_t HeapPeak::BytesAboveStart() const {
  const std::size_t peak = g_peak.load();
  return peak > start_ ? peak - start_ : 0;
}

AllocationFailure::AllocationFailure(std::size_t nth) {
  g_failureStruck = false;
  g_allocationsToFailure = Available() ? nth : 0;
}

AllocationFailure::~AllocationFailure() { g_allocationsToFailure = 0; }

bool AllocationFailure::Struck() const { return g_failureStruck; }

#ifdef KVD_SANITIZED_HEAP
bool AllocationFailure::Available() { return false; }
#else
bool AllocationFailure::Available() { return true; }
#endif

#ifdef KVD_SANITIZED_HEAP
// A sanitizer owns malloc; it reports every allocation and release to hooks.
namespace {

void OnAllocation(const volatile void*, std::size_t bytes) { CountAllocation(bytes); }
void OnRelease(const volatile void* block) {
  CountRelease(__sanitizer_get_allocated_size(block));
}

const int g_hooksInstalled = __sanitizer_install_malloc_and_free_hooks(OnAllocation, OnRelease);

}  // namespace
#endif

}  // namespace kvd::testing

#ifndef KVD_SANITIZED_HEAP
// Without a sanitizer, the malloc family itself is replaced by counting
// forwards to the C library's own allocator.
extern "C" {
void* __libc_malloc(std::size_t bytes);
void* __libc_calloc(std::size_t count, std::size_t bytes);
void* __libc_realloc(void* block, std::size_t bytes);
void* __libc_memalign(std::size_t alignment, std::size_t bytes);
void __libc_free(void* block);
}

namespace {

void* Counted(void* block) {
  if (block != nullptr) kvd::testing::CountAllocation(malloc_usable_size(block));
  return block;
}

void Uncount(void* block) {
  if (block != nullptr) kvd::testing::CountRelease(malloc_usable_size(block));
}

}  // namespace

extern "C" {
void* malloc(std::size_t bytes) {
  if (kvd::testing::InjectedFailure()) return nullptr;
  return Counted(__libc_malloc(bytes));
}
void* calloc(std::size_t count, std::size_t bytes) {
  if (kvd::testing::InjectedFailure()) return nullptr;
  return Counted(__libc_calloc(count, bytes));
}
void* memalign(std::size_t alignment, std::size_t bytes) {
  if (kvd::testing::InjectedFailure()) return nullptr;
  return Counted(__libc_memalign(alignment, bytes));
}
void* aligned_alloc(std::size_t alignment, std::size_t bytes) { return memalign(alignment, bytes); }
int posix_memalign(void** block, std::size_t alignment, std::size_t bytes) {
  void* allocated = memalign(alignment, bytes);
  if (allocated == nullptr) return ENOMEM;
  *block = allocated;
  return 0;
}
void free(void* block) {
  Uncount(block);
  __libc_free(block);
}
void* realloc(void* block, std::size_t bytes) {
  if (kvd::testing::InjectedFailure()) return nullptr;  // the old block stays, as after a real failure
  const std::size_t before = block == nullptr ? 0 : malloc_usable_size(block);
  void* moved = __libc_realloc(block, bytes);
  if (moved == nullptr && bytes != 0) return nullptr;  // the old block stays, still counted
  kvd::testing::CountRelease(before);
  return Counted(moved);
}
}
#endif
