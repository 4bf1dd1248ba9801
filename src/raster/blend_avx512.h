#pragma once

#include "raster/row_functions.h"

namespace ruta {

// Fills the blend entries that AVX-512 speeds up beyond AVX2 (Add,
// NormalAlpha and AddAlpha); the others keep what the table held. Only for a
// processor with AVX-512 F and BW.
void FillAvx512BlendRows(RowFunctions& functions);

}  // namespace ruta
