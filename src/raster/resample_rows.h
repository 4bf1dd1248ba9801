#pragma once

// The row functions of the resampler: one destination row from raw source
// rows, with no call per pixel.

#include <cstddef>
#include <cstdint>

#include "raster/pixel.h"

namespace ruta {

// 16.16 fixed-point source positions, held in 64 bits so that no source size
// can overflow them; below 32768 pixels a side they take exactly the values of
// 32-bit positions.
using Fixed16 = std::int64_t;

// The picture a resampler reads: width x height pixels of which only the top
// storedRows rows are held, row-major; the rows below are transparent black.
struct SourcePicture {
  const ArgbPixel* pixels = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t storedRows = 0;

  bool Holds(std::int32_t x, std::int32_t y) const { return x < width && y < storedRows; }
  const ArgbPixel* Row(std::int32_t y) const { return pixels + static_cast<std::ptrdiff_t>(y) * width; }
  // Reads outside the picture, such as the zero-weight column just past a box
  // that ends on a pixel boundary, and unstored rows yield transparent black.
  // Positions are never negative.
  ArgbPixel At(std::int32_t x, std::int32_t y) const { return Holds(x, y) ? Row(y)[x] : 0; }
};

// The source pixels under one destination pixel along one axis: first and
// last column (or row), both included, and the 8-bit fractions at which the
// box enters the first and leaves the last.
struct Span {
  std::int32_t first = 0;
  std::int32_t last = 0;
  std::int32_t firstFraction = 0;
  std::int32_t lastFraction = 0;
};

inline constexpr std::int32_t kFullWeight = 255;

// How much of source column (or row) i the span covers, 0 to 255.
constexpr std::int32_t CoverageWeight(const Span& span, std::int32_t i) {
  std::int32_t weight = kFullWeight;
  if (i == span.first) weight = kFullWeight - span.firstFraction;
  if (i == span.last) weight = weight + span.lastFraction - kFullWeight;
  return weight;
}

// One destination row of the box filter: out[dx] for dx below count, the box
// of rows x columns[dx]. scratch, when not null, holds source.width
// ColumnSums for the implementation's use.
struct ColumnSums;
struct BoxRowJob {
  SourcePicture source;
  Span rows;
  const Span* columns = nullptr;
  ArgbPixel* out = nullptr;
  std::int32_t count = 0;
  ColumnSums* scratch = nullptr;
};
using BoxRow = void (*)(const BoxRowJob& job);

// One destination row of nearest neighbour: out[dx] = sourceRow[(dx x step) >> 16],
// transparent black past sourceWidth or for a null (unstored) row.
struct NearestRowJob {
  const ArgbPixel* sourceRow = nullptr;
  std::int32_t sourceWidth = 0;
  Fixed16 step = 0;
  ArgbPixel* out = nullptr;
  std::int32_t count = 0;
};
using NearestRow = void (*)(const NearestRowJob& job);

// The plain code: the reference every faster row function is held to.
void ReferenceBoxRow(const BoxRowJob& job);
void ReferenceNearestRow(const NearestRowJob& job);

}  // namespace ruta
