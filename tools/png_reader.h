#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kvd {

// A picture as a .kvd preview holds it: 4 bytes a pixel (blue, green, red,
// straight alpha), top row first.
struct BgraPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;
};

// Reads any PNG (palette, grey, 16-bit, with or without alpha) as 8-bit BGRA.
// On failure returns false and says why in error.
bool ReadPng(const std::filesystem::path& path, BgraPicture& picture, std::string& error);

}  // namespace kvd
