#include "raster/resample.h"

#include <algorithm>

namespace ruta {
namespace {

// 16.16 fixed-point source positions. They are held in 64 bits so that no
// source size can overflow them; below 32768 pixels a side they take exactly
// the values of 32-bit positions.
using Fixed16 = std::int64_t;

constexpr double kFixedOne = 65536.0;
constexpr std::int32_t kFullWeight = 255;

// Nearest neighbour serves enlargements of two times or more along an axis.
constexpr double kNearestNeighbourRatio = 0.5;

struct Steps {
  Fixed16 x = 0;
  Fixed16 y = 0;
};

std::int32_t SourcePixelIndex(Fixed16 position) { return static_cast<std::int32_t>(position >> 16); }
std::int32_t EdgeFraction(Fixed16 position) { return static_cast<std::int32_t>((position >> 8) & 255); }

// Reads outside the source, such as the zero-weight column just past a box
// that ends on a pixel boundary, yield transparent black.
ArgbPixel SourcePixelOrZero(const CImage32& source, std::int32_t x, std::int32_t y) {
  const ArgbPixel* pixel = source.PixelAt(x, y);
  return pixel == nullptr ? 0 : *pixel;
}

void ResampleNearest(CImage32& destination, const CImage32& source, Steps step, std::int32_t width,
                     std::int32_t height) {
  Fixed16 y0 = 0;
  for (std::int32_t dy = 0; dy < height; ++dy, y0 += step.y) {
    ArgbPixel* row = destination.PixelAt(0, dy);
    if (row == nullptr) continue;
    Fixed16 x0 = 0;
    for (std::int32_t dx = 0; dx < width; ++dx, x0 += step.x) {
      row[dx] = SourcePixelOrZero(source, SourcePixelIndex(x0), SourcePixelIndex(y0));
    }
  }
}

// The source pixels under one destination pixel: first and last column and
// row (both included) and the 8-bit fractions at which the box enters the
// first and leaves the last.
struct Span {
  std::int32_t first = 0;
  std::int32_t last = 0;
  std::int32_t firstFraction = 0;
  std::int32_t lastFraction = 0;
};

Span SpanOf(Fixed16 start, Fixed16 end) {
  return {SourcePixelIndex(start), SourcePixelIndex(end), EdgeFraction(start), EdgeFraction(end)};
}

// How much of source column (or row) i the span covers, 0 to 255.
std::int32_t CoverageWeight(const Span& span, std::int32_t i) {
  std::int32_t weight = kFullWeight;
  if (i == span.first) weight = kFullWeight - span.firstFraction;
  if (i == span.last) weight = weight + span.lastFraction - kFullWeight;
  return weight;
}

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

ArgbPixel BoxAverage(const CImage32& source, const Span& columns, const Span& rows) {
  BoxSums sums;
  for (std::int32_t k = rows.first; k <= rows.last; ++k) {
    for (std::int32_t l = columns.first; l <= columns.last; ++l) {
      const ArgbPixel t = SourcePixelOrZero(source, l, k);
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

void ResampleBox(CImage32& destination, const CImage32& source, Steps step, std::int32_t width, std::int32_t height) {
  Fixed16 y0 = 0;
  for (std::int32_t dy = 0; dy < height; ++dy, y0 += step.y) {
    ArgbPixel* row = destination.PixelAt(0, dy);
    if (row == nullptr) continue;
    const Span rows = SpanOf(y0, y0 + step.y);
    Fixed16 x0 = 0;
    for (std::int32_t dx = 0; dx < width; ++dx, x0 += step.x) {
      row[dx] = BoxAverage(source, SpanOf(x0, x0 + step.x), rows);
    }
  }
}

}  // namespace

bool Resample(CImage32& destination, const CImage32& source, std::int32_t maxWidth, std::int32_t maxHeight) {
  const double rx = static_cast<double>(source.width) / destination.width;
  const double ry = static_cast<double>(source.height) / destination.height;
  const Steps step{static_cast<Fixed16>(rx * kFixedOne), static_cast<Fixed16>(ry * kFixedOne)};
  const std::int32_t width = std::min(maxWidth, destination.width);
  const std::int32_t height = std::min(maxHeight, destination.height);
  if (rx <= kNearestNeighbourRatio || ry <= kNearestNeighbourRatio) {
    ResampleNearest(destination, source, step, width, height);
  } else {
    ResampleBox(destination, source, step, width, height);
  }
  return true;
}

}  // namespace ruta
