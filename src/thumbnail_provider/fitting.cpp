#include "thumbnail_provider/fitting.h"

#include "raster/blit.h"
#include "raster/resample.h"

namespace kvd {
namespace {

PreviewRect PlaceCentred(const ruta::CImage32& scaled, ruta::CImage32& canvas, const ruta::BlendContext& blend) {
  ruta::BlitRect placement;
  placement.width = scaled.width;
  placement.height = scaled.height;
  placement.dstX = canvas.width / 2 - scaled.width / 2;
  placement.dstY = canvas.height / 2 - scaled.height / 2;
  ruta::BlitRows(scaled, canvas, placement,
                 [&blend](const ruta::ArgbPixel* sourceRow, std::int32_t sourceIndex, ruta::ArgbPixel* destinationRow,
                          std::int32_t destinationIndex, std::int32_t count) {
                   ruta::BlendRow(blend, sourceRow, sourceIndex, destinationRow, destinationIndex, count);
                 });
  // The fitted sides never exceed the canvas's, so the placement lies wholly on it.
  return {placement.dstX, placement.dstY, placement.width, placement.height};
}

}  // namespace

FittedSize FitInto(std::int32_t w, std::int32_t h, std::int32_t boxWidth, std::int32_t boxHeight) {
  const double ratio = h == 0 ? 1.0 : static_cast<double>(w) / static_cast<double>(h);
  const double boxRatio = boxHeight == 0 ? 1.0 : static_cast<double>(boxWidth) / static_cast<double>(boxHeight);
  // Relatively taller than the box: the height fills it. A square picture in
  // a square box takes the other branch, as does a picture of the box's shape.
  if (ratio < boxRatio) return {static_cast<std::int32_t>(static_cast<double>(boxHeight) * ratio), boxHeight};
  return {boxWidth, static_cast<std::int32_t>(static_cast<double>(boxWidth) / ratio)};
}

std::optional<PreviewRect> DrawFitted(const ruta::SourcePicture& picture, ruta::CImage32& canvas,
                                      const ruta::BlendContext& blend) {
  const FittedSize fitted = FitInto(picture.width, picture.height, canvas.width, canvas.height);
  ruta::CImage32 scaled;
  // Resample writes every pixel of it.
  if (!scaled.ResizeForOverwrite(fitted.width, fitted.height)) return std::nullopt;
  ruta::Resample(scaled, picture, scaled.width, scaled.height);
  return PlaceCentred(scaled, canvas, blend);
}

}  // namespace kvd
