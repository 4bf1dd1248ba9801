#pragma once

#include <cstdint>

#include "raster/image.h"
#include "raster/resample_rows.h"

namespace ruta {

// Scales the whole source into the destination, whose size the caller has
// already set. When the destination is at least twice the source along either
// axis each pixel copies the source pixel under its top-left corner (nearest
// neighbour, no half-pixel offset); otherwise each pixel is the alpha-weighted
// average of the source area it covers (box filter, 16.16 positions, 8-bit
// edge fractions). Only the top-left maxWidth x maxHeight of the destination
// is written. Always returns true.
bool Resample(CImage32& destination, const CImage32& source, std::int32_t maxWidth, std::int32_t maxHeight);

// The same for a picture of which only the top rows are held in memory: the
// result is that of the whole picture with its unstored rows transparent
// black, at the cost of the stored rows only.
bool Resample(CImage32& destination, const SourcePicture& source, std::int32_t maxWidth, std::int32_t maxHeight);

struct RowFunctions;
// Resample with the given row functions rather than the active ones, so that
// each implementation can be held to the reference.
bool ResampleWith(const RowFunctions& functions, CImage32& destination, const SourcePicture& source,
                  std::int32_t maxWidth, std::int32_t maxHeight);

// The whole image as a picture; an image without a buffer holds no rows.
SourcePicture PictureOf(const CImage32& image);

}  // namespace ruta
