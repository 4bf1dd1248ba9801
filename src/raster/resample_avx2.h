#pragma once

#include "raster/resample_rows.h"

namespace ruta {

#if defined(__x86_64__)
// Only for a processor with AVX2.
void Avx2BoxRow(const BoxRowJob& job);
#endif

}  // namespace ruta
