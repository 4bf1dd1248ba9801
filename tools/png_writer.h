#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace kvd {

// How the pixel data are deflated.
enum class PngPacking {
  // Stored, unfiltered: a thumbnail, which a file manager reads back once and
  // caches in its own form, so that writing and reading it cost least.
  Stored,
  // Compressed quickly: a picture that is kept.
  Compressed,
};

// Writes a bottom-up 32-bit bitmap (rows of blue, green, red, alpha) as an
// 8-bit RGBA PNG, top row first, packed as asked. On failure returns false and says why in
// error.
bool WritePng(const std::filesystem::path& path, std::uint32_t width, std::uint32_t height,
              std::span<const std::uint8_t> bottomUpBgra, std::string& error,
              PngPacking packing);

}  // namespace kvd
