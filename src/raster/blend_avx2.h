#pragma once

#include "raster/row_functions.h"

namespace ruta {

// Fills the blend entries that AVX2 speeds up (And, Or, Normal, KeyedNormal,
// Add and the preserving forms of multiply, overlay, screen, lighten, darken
// and difference); the others keep what the table held. Only for a
// processor with AVX2.
void FillAvx2BlendRows(RowFunctions& functions);

}  // namespace ruta
