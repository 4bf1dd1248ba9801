// Draws the pictures that kvd-pack turns into the sample documents: a
// landscape and a portrait gradient, and a disc on a transparent background.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "png_writer.h"

namespace {

using PixelFunction = std::function<std::uint32_t(int x, int y)>;

// Colour runs with x, y and their sum; alpha is opaque.
std::uint32_t Gradient(int x, int y, int width, int height) {
  const auto r = static_cast<std::uint32_t>(x * 255 / (width - 1));
  const auto g = static_cast<std::uint32_t>(y * 255 / (height - 1));
  const auto b = static_cast<std::uint32_t>(255 - (x + y) * 255 / (width + height - 2));
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

// An orange disc with a soft edge on full transparency.
std::uint32_t Disc(int x, int y, int side) {
  const double centre = (side - 1) / 2.0;
  const double distance = std::hypot(x - centre, y - centre);
  const double edge = side * 0.4;
  const double coverage = std::clamp(edge - distance + 0.5, 0.0, 1.0);
  const auto alpha = static_cast<std::uint32_t>(std::lround(coverage * 255));
  return alpha == 0 ? 0 : (alpha << 24) | 0x00FF8C1Au;
}

bool WritePicture(const std::filesystem::path& path, int width, int height, const PixelFunction& pixel) {
  std::vector<std::uint8_t> bottomUp;
  bottomUp.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t word = pixel(x, y);
      for (int shift = 0; shift < 32; shift += 8) bottomUp.push_back(static_cast<std::uint8_t>(word >> shift));
    }
  }
  std::string error;
  if (kvd::WritePng(path, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), bottomUp, error,
                    kvd::PngPacking::Compressed)) {
    return true;
  }
  std::fprintf(stderr, "kvd-sample-pictures: cannot write %s: %s\n", path.c_str(), error.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: kvd-sample-pictures DIRECTORY\n", stderr);
    return 2;
  }
  const std::filesystem::path directory = argv[1];
  const bool written =
      WritePicture(directory / "landscape.png", 160, 100, [](int x, int y) { return Gradient(x, y, 160, 100); }) &&
      WritePicture(directory / "portrait.png", 90, 150, [](int x, int y) { return Gradient(x, y, 90, 150); }) &&
      WritePicture(directory / "transparent.png", 120, 120, [](int x, int y) { return Disc(x, y, 120); });
  return written ? 0 : 1;
}
