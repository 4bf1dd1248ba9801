#pragma once

#include <cstdint>

namespace kvd {

// The 40 bytes of a BITMAPINFOHEADER, field for field, so that a platform
// bitmap can be described from it without this code knowing the platform.
struct BitmapHeader {
  std::uint32_t biSize = 0;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 0;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapHeader) == 40);

// A cx x cx, 32 bits per pixel, uncompressed (BI_RGB) bitmap whose positive
// height makes its rows bottom-up.
BitmapHeader ThumbnailBitmapHeader(std::uint32_t cx);

}  // namespace kvd
