#include "raster/image.h"

#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <limits>

namespace ruta {
namespace {

constexpr double kBytesPerPixel = 4.0;

// Pixel indices are formed in signed 32-bit arithmetic, so an image may hold
// at most that many pixels; a larger request is refused like a failed
// allocation.
constexpr std::int64_t kMaxPixelCount = std::numeric_limits<std::int32_t>::max();

// rowBytes is a signed 32-bit byte count, so a row may be at most this wide;
// wider requests are refused the same way.
constexpr std::int32_t kMaxWidth = std::numeric_limits<std::int32_t>::max() / 4;

bool IsPowerOfTwo(std::int32_t side) {
  int setBits = 0;
  for (int bit = 0; bit <= 30 && setBits < 2; ++bit) {
    if ((side >> bit) & 1) ++setBits;
  }
  return setBits < 2;
}

}  // namespace

CImage32::CImage32() {
  FreeBuffer();
  ApplyGeometry(1, 1);
  AllocateBuffer();
}

CImage32::~CImage32() { std::free(pixels); }

void CImage32::FreeBuffer() {
  if (pixels == nullptr) return;
  std::free(pixels);
  pixels = nullptr;
}

bool CImage32::Resize(std::int32_t newWidth, std::int32_t newHeight) {
  return Reallocate(newWidth, newHeight, Fill::Zero);
}

bool CImage32::ResizeForOverwrite(std::int32_t newWidth, std::int32_t newHeight) {
  return Reallocate(newWidth, newHeight, Fill::Unset);
}

bool CImage32::Reallocate(std::int32_t newWidth, std::int32_t newHeight, Fill fill) {
  if (newWidth == width && newHeight == height) return true;
  FreeBuffer();
  ApplyGeometry(newWidth < 1 ? 1 : newWidth, newHeight < 1 ? 1 : newHeight);
  return AllocateBuffer(fill);
}

void CImage32::ApplyGeometry(std::int32_t newWidth, std::int32_t newHeight) {
  width = newWidth;
  height = newHeight;
  // Saturated for a refused width, so that the conversion stays defined.
  rowBytes = static_cast<std::int32_t>(std::ceil(std::min(width, kMaxWidth) * kBytesPerPixel));
  isSquarePow2 = false;
  sideMask = 0;
  if (width == height) {
    isSquarePow2 = IsPowerOfTwo(width);
    sideMask = width - 1;
  }
}

bool CImage32::AllocateBuffer(Fill fill) {
  const std::int64_t count = static_cast<std::int64_t>(width) * height;
  if (width > kMaxWidth || count > kMaxPixelCount) return false;
  const auto size = static_cast<std::size_t>(count);
  pixels = static_cast<ArgbPixel*>(fill == Fill::Zero ? std::calloc(size, sizeof(ArgbPixel))
                                                      : std::malloc(size * sizeof(ArgbPixel)));
  return pixels != nullptr;
}

const ArgbPixel* CImage32::PixelAt(std::int32_t x, std::int32_t y) const {
  if (pixels == nullptr || x < 0 || x >= width || y < 0 || y >= height) return nullptr;
  return PixelAtRaw(x, y);
}

ArgbPixel* CImage32::PixelAt(std::int32_t x, std::int32_t y) {
  if (pixels == nullptr || x < 0 || x >= width || y < 0 || y >= height) return nullptr;
  return PixelAtRaw(x, y);
}

const ArgbPixel* CImage32::PixelAtRaw(std::int32_t x, std::int32_t y) const {
  return pixels + (static_cast<std::ptrdiff_t>(y) * width + x);
}

ArgbPixel* CImage32::PixelAtRaw(std::int32_t x, std::int32_t y) {
  return pixels + (static_cast<std::ptrdiff_t>(y) * width + x);
}

std::int64_t PixelCount(const CImage32& image) {
  if (image.pixels == nullptr) return 0;
  return static_cast<std::int64_t>(image.width) * image.height;
}

bool FillChecker(CImage32& image, std::int32_t width, std::int32_t height, ArgbPixel colourA,
                 ArgbPixel colourB) {
  if (width <= 0 || height <= 0 || image.width <= 0 || image.height <= 0) return false;
  const std::int32_t w = width < image.width ? width : image.width;
  const std::int32_t h = height < image.height ? height : image.height;
  for (std::int32_t y = 0; y < h; ++y) {
    ArgbPixel* row = image.PixelAt(0, y);
    if (row == nullptr) return false;  // no buffer: nothing painted
    const bool rowStartsWithA = (y % 16) < 8;
    for (std::int32_t x = 0; x < w; ++x) {
      row[x] = (((x % 16) < 8) == rowStartsWithA) ? colourA : colourB;
    }
  }
  return true;
}

}  // namespace ruta
