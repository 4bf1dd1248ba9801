#pragma once

// What every fuzz target shares: the fuzzer's bytes taken apart into the
// values a target needs, and a check that stops the run on a broken promise.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

namespace kvd::fuzz {

// Hands out the input front to back. Past its end every value reads as 0, so
// that a short input is still a complete (if dull) case.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

  template <typename T>
  T Take() {
    static_assert(std::is_trivially_copyable_v<T>);
    T value{};
    const std::size_t count = std::min(sizeof(T), bytes_.size());
    if (count > 0) std::memcpy(&value, bytes_.data(), count);
    bytes_ = bytes_.subspan(count);
    return value;
  }

  // A value from lowest to highest, both included.
  std::int32_t TakeInRange(std::int32_t lowest, std::int32_t highest) {
    const auto span = static_cast<std::uint64_t>(static_cast<std::int64_t>(highest) - lowest) + 1;
    return static_cast<std::int32_t>(lowest + static_cast<std::int64_t>(Take<std::uint32_t>() % span));
  }

  std::vector<std::uint32_t> TakeWords(std::size_t count) {
    std::vector<std::uint32_t> words(count);
    for (std::uint32_t& word : words) word = Take<std::uint32_t>();
    return words;
  }

  std::span<const std::uint8_t> Rest() const { return bytes_; }

 private:
  std::span<const std::uint8_t> bytes_;
};

[[noreturn]] inline void FailCheck(const char* expression, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, expression);
  std::abort();
}

}  // namespace kvd::fuzz

// Holds in every build, not only with assertions on: a failure is a finding.
#define KVD_FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::kvd::fuzz::FailCheck(#condition, __FILE__, __LINE__))
