#pragma once

#include "raster/row_functions.h"

namespace ruta {

// Fills the blend entries that SSE2 speeds up (And, Or, Normal, KeyedNormal,
// Add and the preserving forms of multiply, overlay, screen, lighten, darken
// and difference); the others keep what the table held.
void FillSse2BlendRows(RowFunctions& functions);

}  // namespace ruta
