#pragma once

#include <cstdint>
#include <optional>

#include "raster/blend.h"
#include "raster/image.h"
#include "raster/resample_rows.h"

namespace kvd {

struct FittedSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The largest size of w x h's aspect that fits a box of boxWidth x boxHeight:
// one side fills the box, the other is truncated, not rounded (25 x 11 in a
// 100 x 100 box gives 100 x 43). A side may come out 0; Resize makes it 1.
FittedSize FitInto(std::int32_t w, std::int32_t h, std::int32_t boxWidth, std::int32_t boxHeight);

// Where the fitted preview lies on the canvas, in canvas pixels. Callers that
// show previews with their own aspect cut the canvas down to it; reading it
// from the pixels would not do, as a preview may have transparent edges.
struct PreviewRect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Scales the picture to fit the canvas and composites it, centred, onto the
// canvas in the mode of blend; answers where it lies. nullopt, leaving the
// canvas as it was, when the scaled copy cannot be allocated.
std::optional<PreviewRect> DrawFitted(const ruta::SourcePicture& picture, ruta::CImage32& canvas,
                                      const ruta::BlendContext& blend);

}  // namespace kvd
