#pragma once

// The box filter by column sums, exact to the reference. Along the rows the
// box covers in full (row weight 255), a pixel in a fully covered column
// weighs exactly its alpha, so those pixels enter through per-column sums
// built once per destination row by a kernel that vectorises; the few pixels
// at a box's partly covered edges are weighed one by one as the reference
// weighs them. The total coverage depends only on the weights, never on the
// pixels, so unstored rows cost nothing but their share of it.

#include <cstdint>

#include "raster/resample_rows.h"

namespace ruta {

// Per source column, over a destination row's fully covered rows: the sums
// of blue x alpha, green x alpha, red x alpha and of alpha, in the byte order
// of the pixel so that a vector lane holds one column.
struct ColumnSums {
  std::uint32_t blue = 0;
  std::uint32_t green = 0;
  std::uint32_t red = 0;
  std::uint32_t alpha = 0;
};

// Adds one row's count pixels into sums[0 .. count - 1].
using ColumnSumKernel = void (*)(const ArgbPixel* row, std::int32_t count, ColumnSums* sums);

// A column sum adds at most 255 x 255 per row; this many rows keep it inside
// 32 bits. A taller box takes the reference row.
inline constexpr std::int32_t kMaxColumnSumRows = 66051;

void BoxRowByColumnSums(const BoxRowJob& job, ColumnSumKernel kernel);

void PlainColumnSumKernel(const ArgbPixel* row, std::int32_t count, ColumnSums* sums);
void Sse2ColumnSumKernel(const ArgbPixel* row, std::int32_t count, ColumnSums* sums);

}  // namespace ruta
