#pragma once

#include "raster/resample_rows.h"

namespace ruta {

// The box filter by column sums with the SSE2 kernel (plain code where the
// build has no SSE2).
void Sse2BoxRow(const BoxRowJob& job);

// Nearest neighbour without a range test per pixel: the columns that fall
// inside the source are counted once per row.
void UncheckedNearestRow(const NearestRowJob& job);

}  // namespace ruta
