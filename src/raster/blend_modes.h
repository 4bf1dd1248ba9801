#pragma once

#include <cstdint>

#include "raster/blend_row.h"

namespace ruta {

// The row loop of an arithmetic blend mode (codes 7 to 16 and 29 to 38), or
// null for any other code.
RowLoop ArithmeticRowLoop(std::int32_t mode);

}  // namespace ruta
