#include "raster/resample.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "raster/box_column_sums.h"
#include "raster/row_functions.h"

namespace ruta {
namespace {

constexpr double kFixedOne = 65536.0;

// Nearest neighbour serves enlargements of two times or more along an axis.
constexpr double kNearestNeighbourRatio = 0.5;

// Column spans are formed for this many destination columns at a time, on
// the stack, so that resampling allocates nothing it cannot do without.
constexpr std::int32_t kColumnsPerPiece = 512;

struct Steps {
  Fixed16 x = 0;
  Fixed16 y = 0;
};

struct Extent {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

std::int32_t SourcePixelIndex(Fixed16 position) { return static_cast<std::int32_t>(position >> 16); }
std::int32_t EdgeFraction(Fixed16 position) { return static_cast<std::int32_t>((position >> 8) & 255); }

Span SpanOf(Fixed16 start, Fixed16 end) {
  return {SourcePixelIndex(start), SourcePixelIndex(end), EdgeFraction(start), EdgeFraction(end)};
}

// Each destination row depends only on its source row, so a row that samples
// the same source row as the one above is a copy of it.
void ResampleNearest(NearestRow nearestRow, CImage32& destination, const SourcePicture& source, Steps step,
                     Extent extent) {
  const auto rowBytes = static_cast<std::size_t>(extent.width) * sizeof(ArgbPixel);
  const ArgbPixel* previousRow = nullptr;
  std::int32_t previousSourceRow = -1;
  Fixed16 y0 = 0;
  for (std::int32_t dy = 0; dy < extent.height; ++dy, y0 += step.y) {
    ArgbPixel* row = destination.PixelAt(0, dy);
    if (row == nullptr) continue;
    const std::int32_t sy = SourcePixelIndex(y0);
    if (previousRow != nullptr && sy == previousSourceRow) {
      std::memcpy(row, previousRow, rowBytes);
    } else {
      const ArgbPixel* sourceRow = sy < source.storedRows ? source.Row(sy) : nullptr;
      nearestRow({sourceRow, source.width, step.x, row, extent.width});
    }
    previousRow = row;
    previousSourceRow = sy;
  }
}

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

void ResampleBox(BoxRow boxRow, CImage32& destination, const SourcePicture& source, Steps step, Extent extent) {
  // Without room for the column sums every row takes the reference path.
  const std::unique_ptr<ColumnSums, FreeDeleter> scratch(
      static_cast<ColumnSums*>(std::malloc(static_cast<std::size_t>(source.width) * sizeof(ColumnSums))));
  Span columns[kColumnsPerPiece];
  Fixed16 y0 = 0;
  for (std::int32_t dy = 0; dy < extent.height; ++dy, y0 += step.y) {
    ArgbPixel* row = destination.PixelAt(0, dy);
    if (row == nullptr) continue;
    const Span rows = SpanOf(y0, y0 + step.y);
    for (std::int32_t first = 0; first < extent.width; first += kColumnsPerPiece) {
      const std::int32_t count = std::min(kColumnsPerPiece, extent.width - first);
      Fixed16 x0 = static_cast<Fixed16>(first) * step.x;
      for (std::int32_t i = 0; i < count; ++i, x0 += step.x) columns[i] = SpanOf(x0, x0 + step.x);
      boxRow({source, rows, columns, row + first, count, scratch.get()});
    }
  }
}

}  // namespace

SourcePicture PictureOf(const CImage32& image) {
  return {image.pixels, image.width, image.height, image.pixels == nullptr ? 0 : image.height};
}

bool Resample(CImage32& destination, const CImage32& source, std::int32_t maxWidth, std::int32_t maxHeight) {
  return Resample(destination, PictureOf(source), maxWidth, maxHeight);
}

bool Resample(CImage32& destination, const SourcePicture& source, std::int32_t maxWidth, std::int32_t maxHeight) {
  return ResampleWith(ActiveRowFunctions(), destination, source, maxWidth, maxHeight);
}

bool ResampleWith(const RowFunctions& functions, CImage32& destination, const SourcePicture& source,
                  std::int32_t maxWidth, std::int32_t maxHeight) {
  const double rx = static_cast<double>(source.width) / destination.width;
  const double ry = static_cast<double>(source.height) / destination.height;
  const Steps step{static_cast<Fixed16>(rx * kFixedOne), static_cast<Fixed16>(ry * kFixedOne)};
  const Extent extent{std::min(maxWidth, destination.width), std::min(maxHeight, destination.height)};
  if (extent.width <= 0 || extent.height <= 0) return true;
  if (rx <= kNearestNeighbourRatio || ry <= kNearestNeighbourRatio) {
    ResampleNearest(functions.nearest, destination, source, step, extent);
  } else {
    ResampleBox(functions.box, destination, source, step, extent);
  }
  return true;
}

}  // namespace ruta
