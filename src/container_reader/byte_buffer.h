#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace kvd {

// Makes the elements a vector grows by without a value, as new does: the
// buffers below are filled by a read or by inflating as soon as they grow, and
// clearing a preview's megabytes first costs as much again as filling them.
template <typename T>
class UnsetAllocator : public std::allocator<T> {
 public:
  template <typename U>
  struct rebind {
    using other = UnsetAllocator<U>;
  };

  UnsetAllocator() noexcept = default;
  template <typename U>
  UnsetAllocator(const UnsetAllocator<U>& other) noexcept : std::allocator<T>(other) {}

  template <typename U>
  void construct(U* place) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Arguments>
  void construct(U* place, Arguments&&... arguments) {
    ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
  }
};

// Bytes read or inflated from a document. Growing it leaves the new bytes
// unset; whoever grows it fills them, or shrinks it back to what was filled.
using ByteBuffer = std::vector<std::uint8_t, UnsetAllocator<std::uint8_t>>;

}  // namespace kvd
