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

// The largest picture a caller takes.
struct PngSizeLimit {
  std::uint64_t side = UINT32_MAX;
  std::uint64_t pixels = UINT64_MAX;
};

// Reads any PNG (palette, grey, 16-bit, with or without alpha) as 8-bit BGRA.
// A picture beyond limit is refused by the size its header declares, before
// anything is allocated for its pixels: a file of a few bytes may declare
// gigabytes. On failure returns false and says why in error.
bool ReadPng(const std::filesystem::path& path, BgraPicture& picture, std::string& error, PngSizeLimit limit = {});

}  // namespace kvd
