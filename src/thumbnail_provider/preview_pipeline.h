#pragma once

#include <cstdint>

#include "raster/image.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace kvd {

// The most pixels a preview canvas may have: every pixel index of the raster
// library is a signed 32-bit integer.
inline constexpr std::int64_t kMaxPreviewPixels = INT32_MAX;

// Renders a preview pane of width x height onto canvas: the pane's background
// colour (made opaque), and over it document (null: nothing) fitted to the
// pane with its aspect kept, centred, composited source-over. The canvas is
// opaque throughout, so a screen that ignores alpha shows it as it is.
// InvalidSize for a side below 1 or more than kMaxPreviewPixels pixels.
RenderStatus RenderPreview(const ruta::CImage32* document, std::int32_t width, std::int32_t height,
                           ruta::ArgbPixel background, ruta::CImage32& canvas);

}  // namespace kvd
