#pragma once

#include <cstdint>
#include <span>

#include "raster/row_functions.h"

namespace kvd {

// Adler-32 (RFC 1950), the checksum behind the deflate data of a zlib stream:
// the running value of an empty input.
inline constexpr std::uint32_t kAdler32Start = 1;

// Continues the checksum adler over bytes. The implementation is the one the
// raster row functions use (chosen once, by what the processor offers and what
// KVD_DISABLE_CPU_FEATURES leaves); every one gives the reference's value.
std::uint32_t Adler32(std::uint32_t adler, std::span<const std::uint8_t> bytes);

// The same with the given implementation; Reference is the plain loop.
std::uint32_t Adler32With(ruta::RowImplementation implementation, std::uint32_t adler,
                          std::span<const std::uint8_t> bytes);

}  // namespace kvd
