#pragma once

#include <cstdint>

namespace ruta {

// One straight (not premultiplied) ARGB pixel: blue in bits 0-7, green 8-15,
// red 16-23, alpha 24-31. Held little-endian, so its bytes in memory are
// blue, green, red, alpha: the byte order of a 32-bit DIB with alpha.
using ArgbPixel = std::uint32_t;

constexpr std::int32_t AlphaOf(ArgbPixel p) { return static_cast<std::int32_t>(p >> 24); }
constexpr std::int32_t RedOf(ArgbPixel p) { return static_cast<std::int32_t>((p >> 16) & 0xFF); }
constexpr std::int32_t GreenOf(ArgbPixel p) { return static_cast<std::int32_t>((p >> 8) & 0xFF); }
constexpr std::int32_t BlueOf(ArgbPixel p) { return static_cast<std::int32_t>(p & 0xFF); }

// Channels are taken modulo 256, which is the "store the low 8 bits" rule of
// every pixel operation.
constexpr ArgbPixel MakeArgb(std::int32_t a, std::int32_t r, std::int32_t g, std::int32_t b) {
  return (static_cast<ArgbPixel>(a & 0xFF) << 24) | (static_cast<ArgbPixel>(r & 0xFF) << 16) |
         (static_cast<ArgbPixel>(g & 0xFF) << 8) | static_cast<ArgbPixel>(b & 0xFF);
}

}  // namespace ruta
