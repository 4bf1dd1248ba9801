#pragma once

#include <cstdint>

#include "raster/image.h"

namespace ruta {

// A rectangle of the source placed at (dstX, dstY) in the destination; source
// column srcX + i lands in destination column dstX + i, likewise for rows.
struct BlitRect {
  std::int32_t srcX = 0;
  std::int32_t srcY = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t dstX = 0;
  std::int32_t dstY = 0;
};

struct SizePair {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

inline SizePair SizeOf(const CImage32& image) { return {image.width, image.height}; }

// Clips rect in place against both images. True when what remains is
// non-empty and lies wholly inside both; the rect is then exactly the part of
// the request inside both images, source and destination still in register.
// On false the rect's contents are not to be used.
bool ClipBlitRect(SizePair source, SizePair destination, BlitRect& rect);

// Clips rect and calls rowOperation(sourceRow, srcX, destinationRow, dstX,
// width) once per destination row, top to bottom, with the rows given as
// pointers to their first pixel.
template <typename RowOperation>
void BlitRows(const CImage32& source, CImage32& destination, BlitRect rect, RowOperation&& rowOperation) {
  // Formed in 64 bits: the request may be anything, only the clipped rect is bounded.
  if (static_cast<std::int64_t>(rect.dstX) + rect.width <= 0) return;
  if (!ClipBlitRect(SizeOf(source), SizeOf(destination), rect)) return;
  for (std::int32_t y = rect.dstY; y < rect.dstY + rect.height; ++y) {
    const ArgbPixel* sourceRow = source.PixelAt(0, rect.srcY + (y - rect.dstY));
    ArgbPixel* destinationRow = destination.PixelAt(0, y);
    rowOperation(sourceRow, rect.srcX, destinationRow, rect.dstX, rect.width);
  }
}

}  // namespace ruta
