#include "thumbnail_provider/thumbnail_pipeline.h"

#include <bit>
#include <cassert>
#include <cstring>
#include <new>
#include <optional>

#include "thumbnail_provider/fitting.h"

namespace kvd {
namespace {

bool ClearCanvas(ruta::CImage32& canvas) {
  for (std::int32_t y = 0; y < canvas.height; ++y) {
    ruta::ArgbPixel* row = canvas.PixelAt(0, y);
    if (row == nullptr) return false;
    std::memset(row, 0, static_cast<std::size_t>(canvas.width) * sizeof(ruta::ArgbPixel));
  }
  return true;
}

// Draws the document's stored preview onto the cleared canvas. Only the rows
// the file delivers are held; the resampler reads the rest as the transparent
// black they are. nullopt when the document image or its scaled copy could not
// be allocated.
std::optional<LoadOutcome> DrawDocument(ByteStream& stream, ruta::CImage32& canvas, PreviewRect& placed) {
  ruta::CImage32 document;
  std::int32_t pictureHeight = 0;
  const LoadOutcome outcome = LoadThumbnailRows(document, pictureHeight, stream);
  if (outcome == LoadOutcome::ReadFailed) return outcome;  // the canvas stays clear
  if (document.pixels == nullptr) return std::nullopt;
  const ruta::SourcePicture picture{document.pixels, document.width, pictureHeight, document.height};
  const ruta::BlendContext copy;
  const std::optional<PreviewRect> drawn = DrawFitted(picture, canvas, copy);
  if (!drawn) return std::nullopt;
  placed = *drawn;
  return outcome;
}

}  // namespace

RenderResult RenderThumbnail(ByteStream* stream, std::uint32_t cx, ruta::CImage32& canvas) {
  if (cx == 0 || cx > kMaxThumbnailEdge) return {RenderStatus::InvalidSize, LoadOutcome::NoThumbnail, {}};
  const auto edge = static_cast<std::int32_t>(cx);
  if (!canvas.ResizeForOverwrite(edge, edge) || !ClearCanvas(canvas)) {
    return {RenderStatus::OutOfMemory, LoadOutcome::NoThumbnail, {}};
  }
  if (stream == nullptr) return {RenderStatus::Ok, LoadOutcome::NoThumbnail, {}};
  PreviewRect placed;
  const std::optional<LoadOutcome> outcome = DrawDocument(*stream, canvas, placed);
  if (!outcome) return {RenderStatus::OutOfMemory, LoadOutcome::NoThumbnail, {}};
  return {RenderStatus::Ok, *outcome, placed};
}

void CopyCanvasBottomUp(const ruta::CImage32& canvas, std::span<std::uint8_t> bits) {
  // The pixel word's bytes in memory are already blue, green, red, alpha.
  static_assert(std::endian::native == std::endian::little);
  const auto rowBytes = static_cast<std::size_t>(canvas.width) * sizeof(ruta::ArgbPixel);
  assert(bits.size() >= rowBytes * static_cast<std::size_t>(canvas.height));
  std::uint8_t* out = bits.data();
  for (std::int32_t y = canvas.height - 1; y >= 0; --y, out += rowBytes) {
    const ruta::ArgbPixel* row = canvas.PixelAt(0, y);
    if (row == nullptr) {
      std::memset(out, 0, rowBytes);
    } else {
      std::memcpy(out, row, rowBytes);
    }
  }
}

ThumbnailBitmap RenderThumbnailBitmap(ByteStream* stream, std::uint32_t cx) {
  ThumbnailBitmap bitmap;
  ruta::CImage32 canvas;
  bitmap.result = RenderThumbnail(stream, cx, canvas);
  if (bitmap.result.status != RenderStatus::Ok || bitmap.result.outcome == LoadOutcome::ReadFailed) return bitmap;
  bitmap.header = ThumbnailBitmapHeader(cx);
  try {
    bitmap.bits.resize(static_cast<std::size_t>(cx) * cx * sizeof(ruta::ArgbPixel));
  } catch (const std::bad_alloc&) {
    bitmap.result = {RenderStatus::OutOfMemory, LoadOutcome::NoThumbnail, {}};
    return bitmap;
  }
  CopyCanvasBottomUp(canvas, bitmap.bits);
  return bitmap;
}

}  // namespace kvd
