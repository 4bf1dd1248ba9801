#pragma once

#include <cstdint>

#include "container_reader/byte_stream.h"
#include "container_reader/thumbnail_loader.h"
#include "raster/image.h"
#include "raster/resample_rows.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace kvd {

// The most pixels a preview canvas may have: every pixel index of the raster
// library is a signed 32-bit integer.
inline constexpr std::int64_t kMaxPreviewPixels = INT32_MAX;

// A document as the preview pane keeps it while it is shown: like a thumbnail,
// only the rows the file delivers, so that a Thumb declaring a large picture
// behind a small payload costs the payload, whatever the pane's size.
struct PreviewDocument {
  LoadOutcome outcome = LoadOutcome::NoThumbnail;
  ruta::CImage32 rows;
  std::int32_t pictureHeight = 0;

  // The stored preview; a picture without pixels when there is none to show.
  ruta::SourcePicture Picture() const;
};

// Reads the document from the stream's current position into document.
// Throws nothing: what could not be read leaves a document without a picture,
// and a read that failed leaves the outcome ReadFailed.
void ReadPreviewDocument(ByteStream& stream, PreviewDocument& document);

// Renders a preview pane of width x height onto canvas: the pane's background
// colour (made opaque), and over it picture (without pixels: nothing) fitted to the pane
// with its aspect kept, centred, composited source-over. The canvas is opaque
// throughout, so a screen that ignores alpha shows it as it is. InvalidSize
// for a side below 1 or more than kMaxPreviewPixels pixels.
RenderStatus RenderPreview(const ruta::SourcePicture& picture, std::int32_t width, std::int32_t height,
                           ruta::ArgbPixel background, ruta::CImage32& canvas);

}  // namespace kvd
