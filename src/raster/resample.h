#pragma once

#include <cstdint>

#include "raster/image.h"

namespace ruta {

// Scales the whole source into the destination, whose size the caller has
// already set. When the destination is at least twice the source along either
// axis each pixel copies the source pixel under its top-left corner (nearest
// neighbour, no half-pixel offset); otherwise each pixel is the alpha-weighted
// average of the source area it covers (box filter, 16.16 positions, 8-bit
// edge fractions). Only the top-left maxWidth x maxHeight of the destination
// is written. Always returns true.
bool Resample(CImage32& destination, const CImage32& source, std::int32_t maxWidth, std::int32_t maxHeight);

}  // namespace ruta
