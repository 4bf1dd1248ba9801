#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "container_reader/byte_stream.h"
#include "container_reader/thumbnail_loader.h"
#include "raster/image.h"
#include "thumbnail_provider/bitmap_header.h"
#include "thumbnail_provider/fitting.h"

namespace kvd {

// The largest edge whose canvas pixel count cx * cx fits a signed 32-bit
// integer, which every pixel index of the raster library assumes.
inline constexpr std::uint32_t kMaxThumbnailEdge = 46340;

enum class RenderStatus {
  Ok,
  InvalidSize,  // cx is 0 or above kMaxThumbnailEdge; nothing was read
  OutOfMemory,  // an image (canvas, document or scaled copy) could not be allocated
};

struct RenderResult {
  RenderStatus status = RenderStatus::Ok;
  LoadOutcome outcome = LoadOutcome::NoThumbnail;  // NoThumbnail also when there is no stream
  PreviewRect preview;  // empty when nothing was drawn
};

// Renders the thumbnail of the document read from stream (null: no document)
// onto canvas, which becomes cx x cx: the stored preview fitted to the square
// with its aspect kept, centred, on transparent black. Reads the stream on
// from its current position. When a read fails the outcome is ReadFailed and
// the canvas stays transparent: not a picture of the document, not to be shown.
RenderResult RenderThumbnail(ByteStream* stream, std::uint32_t cx, ruta::CImage32& canvas);

// Writes the canvas as the pixel memory of a bottom-up 32-bit bitmap: the
// bottom row first, each pixel as blue, green, red, alpha. bits holds
// width * height * 4 bytes.
void CopyCanvasBottomUp(const ruta::CImage32& canvas, std::span<std::uint8_t> bits);

// The finished bitmap, for callers without a platform bitmap of their own.
struct ThumbnailBitmap {
  RenderResult result;
  BitmapHeader header;
  // cx * cx * 4 bytes, bottom-up; empty unless result.status is Ok and the
  // outcome is not ReadFailed.
  std::vector<std::uint8_t> bits;
};

ThumbnailBitmap RenderThumbnailBitmap(ByteStream* stream, std::uint32_t cx);

}  // namespace kvd
