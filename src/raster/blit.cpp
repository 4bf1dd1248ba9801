#include "raster/blit.h"

namespace ruta {
namespace {

// The rect with room for the sums of its fields: a corner plus an extent, or a
// position minus a negative one, can leave the 32-bit range for extreme
// requests, and 64 bits hold every such sum exactly.
struct WideRect {
  std::int64_t srcX, srcY, width, height, dstX, dstY;
};

WideRect Widen(const BlitRect& rect) { return {rect.srcX, rect.srcY, rect.width, rect.height, rect.dstX, rect.dstY}; }

// A true answer leaves values inside both images, which fit in 32 bits; after
// a false one the rect is not to be used, so wrapping there does no harm.
void StoreInto(BlitRect& rect, const WideRect& wide) {
  rect = {static_cast<std::int32_t>(wide.srcX),  static_cast<std::int32_t>(wide.srcY),
          static_cast<std::int32_t>(wide.width), static_cast<std::int32_t>(wide.height),
          static_cast<std::int32_t>(wide.dstX),  static_cast<std::int32_t>(wide.dstY)};
}

}  // namespace

bool ClipBlitRect(SizePair source, SizePair destination, BlitRect& rect) {
  WideRect r = Widen(rect);
  const std::int64_t sw = source.width;
  const std::int64_t sh = source.height;
  const std::int64_t dw = destination.width;
  const std::int64_t dh = destination.height;

  // Wholly outside one of the images: the rect is left as it came.
  if (r.dstY + r.height <= 0) return false;
  if (r.dstX >= dw) return false;
  if (r.dstY >= dh) return false;
  if (r.srcX >= sw) return false;
  if (r.srcY >= sh) return false;
  if (r.srcX + r.width < 0 || r.srcY + r.height < 0) return false;

  if (r.srcX + r.width >= sw) r.width = sw - r.srcX;
  if (r.srcY + r.height >= sh) r.height = sh - r.srcY;
  // Moving a start inward moves both corners together, keeping them in register.
  if (r.srcX < 0) {
    r.dstX -= r.srcX;
    r.width += r.srcX;
    r.srcX = 0;
  }
  if (r.srcY < 0) {
    r.dstY -= r.srcY;
    r.height += r.srcY;
    r.srcY = 0;
  }
  if (r.dstX < 0) {
    r.srcX -= r.dstX;
    r.width += r.dstX;
    r.dstX = 0;
  }
  if (r.dstY < 0) {
    r.srcY -= r.dstY;
    r.height += r.dstY;
    r.dstY = 0;
  }
  if (r.dstX + r.width > dw) r.width = dw - r.dstX;
  if (r.dstY + r.height > dh) r.height = dh - r.dstY;

  StoreInto(rect, r);
  return r.width >= 1 && r.height >= 1;
}

}  // namespace ruta
