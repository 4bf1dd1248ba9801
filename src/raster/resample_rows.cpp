#include "raster/resample_rows.h"

namespace ruta {
namespace {

bool IsOnEdge(const Span& span, std::int32_t i) { return i == span.first || i == span.last; }

// A box can hold any number of source pixels, each adding up to 255 x 255 to
// a sum, so the sums are 64-bit.
struct BoxSums {
  std::int64_t blue = 0;
  std::int64_t green = 0;
  std::int64_t red = 0;
  std::int64_t weight = 0;
  std::int64_t total = 0;
};

// Every pixel of the box lends its colour weighted by its alpha times its
// coverage c (the product of its column and row weights, 0 to 255); the
// total of the coverages makes the mean alpha.
ArgbPixel BoxAverage(const SourcePicture& source, const Span& columns, const Span& rows) {
  BoxSums sums;
  for (std::int32_t k = rows.first; k <= rows.last; ++k) {
    for (std::int32_t l = columns.first; l <= columns.last; ++l) {
      const ArgbPixel t = source.At(l, k);
      const std::int32_t a = AlphaOf(t);
      std::int32_t w = a;
      if (IsOnEdge(columns, l) || IsOnEdge(rows, k)) {
        const std::int32_t c = (CoverageWeight(columns, l) * CoverageWeight(rows, k)) / kFullWeight;
        w = (a * c) / kFullWeight;
        sums.total += c;
      } else {
        sums.total += kFullWeight;
      }
      sums.weight += w;
      sums.blue += static_cast<std::int64_t>(BlueOf(t)) * w;
      sums.green += static_cast<std::int64_t>(GreenOf(t)) * w;
      sums.red += static_cast<std::int64_t>(RedOf(t)) * w;
    }
  }
  // Without any alpha weight the box lends no colour at all.
  if (sums.weight == 0) return 0;
  return MakeArgb(static_cast<std::int32_t>((sums.weight * kFullWeight) / sums.total),
                  static_cast<std::int32_t>(sums.red / sums.weight),
                  static_cast<std::int32_t>(sums.green / sums.weight),
                  static_cast<std::int32_t>(sums.blue / sums.weight));
}

std::int32_t SourcePixelIndex(Fixed16 position) { return static_cast<std::int32_t>(position >> 16); }

}  // namespace

void ReferenceBoxRow(const BoxRowJob& job) {
  for (std::int32_t dx = 0; dx < job.count; ++dx) job.out[dx] = BoxAverage(job.source, job.columns[dx], job.rows);
}

void ReferenceNearestRow(const NearestRowJob& job) {
  Fixed16 x0 = 0;
  for (std::int32_t dx = 0; dx < job.count; ++dx, x0 += job.step) {
    const std::int32_t sx = SourcePixelIndex(x0);
    job.out[dx] = job.sourceRow != nullptr && sx < job.sourceWidth ? job.sourceRow[sx] : 0;
  }
}

}  // namespace ruta
