#pragma once

// The Adler-32 loops behind Adler32: the plain one, which defines the value,
// and the vector ones beside it.

#include <cstddef>
#include <cstdint>
#include <span>

namespace kvd {

// The largest prime below 2^16: both sums are kept modulo it.
inline constexpr std::uint32_t kAdlerBase = 65521;

// The most bytes after which the second sum, starting below kAdlerBase, still
// fits in 32 bits: 255 n (n + 1) / 2 + (n + 1) (kAdlerBase - 1) < 2^32.
inline constexpr std::size_t kAdlerRun = 5552;

std::uint32_t ReferenceAdler32(std::uint32_t adler, std::span<const std::uint8_t> bytes);

#if defined(__x86_64__)
// Sixteen bytes at a time with SSE2, which every x86-64 processor has.
std::uint32_t Sse2Adler32(std::uint32_t adler, std::span<const std::uint8_t> bytes);

// Thirty-two bytes at a time; only for a processor with AVX2.
std::uint32_t Avx2Adler32(std::uint32_t adler, std::span<const std::uint8_t> bytes);
#endif

}  // namespace kvd
