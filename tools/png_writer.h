#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace kvd {

// Writes a bottom-up 32-bit bitmap (rows of blue, green, red, alpha) as an
// 8-bit RGBA PNG, top row first. On failure returns false and says why in
// error.
bool WritePng(const std::filesystem::path& path, std::uint32_t width, std::uint32_t height,
              std::span<const std::uint8_t> bottomUpBgra, std::string& error);

}  // namespace kvd
