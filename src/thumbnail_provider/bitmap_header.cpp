#include "thumbnail_provider/bitmap_header.h"

namespace kvd {
namespace {

constexpr std::uint32_t kBitmapHeaderSize = 40;
constexpr std::uint16_t kBitsPerPixel = 32;
constexpr std::uint32_t kUncompressed = 0;  // BI_RGB

}  // namespace

BitmapHeader ThumbnailBitmapHeader(std::uint32_t cx) {
  BitmapHeader header;
  header.biSize = kBitmapHeaderSize;
  header.biWidth = static_cast<std::int32_t>(cx);
  header.biHeight = static_cast<std::int32_t>(cx);
  header.biPlanes = 1;
  header.biBitCount = kBitsPerPixel;
  header.biCompression = kUncompressed;
  return header;
}

}  // namespace kvd
