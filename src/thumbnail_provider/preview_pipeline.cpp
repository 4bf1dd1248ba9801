#include "thumbnail_provider/preview_pipeline.h"

#include <algorithm>

#include "raster/blend.h"
#include "thumbnail_provider/fitting.h"

namespace kvd {
namespace {

constexpr ruta::ArgbPixel kOpaque = 0xFF000000;

bool FillCanvas(ruta::CImage32& canvas, ruta::ArgbPixel colour) {
  if (canvas.pixels == nullptr) return false;
  std::fill_n(canvas.pixels, PixelCount(canvas), colour);
  return true;
}

}  // namespace

ruta::SourcePicture PreviewDocument::Picture() const {
  if (outcome == LoadOutcome::NoThumbnail || outcome == LoadOutcome::ReadFailed) return {};
  return {rows.pixels, rows.width, pictureHeight, rows.height};
}

void ReadPreviewDocument(ByteStream& stream, PreviewDocument& document) {
  document.outcome = LoadThumbnailRows(document.rows, document.pictureHeight, stream);
}

RenderStatus RenderPreview(const ruta::SourcePicture& picture, std::int32_t width, std::int32_t height,
                           ruta::ArgbPixel background, ruta::CImage32& canvas) {
  if (width < 1 || height < 1 || std::int64_t{width} * height > kMaxPreviewPixels) return RenderStatus::InvalidSize;
  if (!canvas.ResizeForOverwrite(width, height) || !FillCanvas(canvas, background | kOpaque)) {
    return RenderStatus::OutOfMemory;
  }
  if (picture.pixels == nullptr) return RenderStatus::Ok;
  // Normal keeps the destination's alpha: the canvas stays opaque.
  ruta::BlendContext over;
  over.mode = static_cast<std::int32_t>(ruta::BlendMode::Normal);
  return DrawFitted(picture, canvas, over) ? RenderStatus::Ok : RenderStatus::OutOfMemory;
}

}  // namespace kvd
