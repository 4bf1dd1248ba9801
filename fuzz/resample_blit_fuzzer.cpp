// Resample and BlitRows over random sizes, limits and rectangles. Resample
// writes only the top-left maxWidth x maxHeight of its destination and keeps
// a uniform opaque picture uniform; BlitRows visits exactly the part of the
// request that lies inside both images, each row once, top to bottom.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "raster/blit.h"
#include "raster/resample.h"

namespace {

using kvd::fuzz::FuzzInput;

// Large enough for every scaling path, small enough to run fast.
constexpr std::int32_t kMaxSide = 40;
constexpr ruta::ArgbPixel kUnwritten = 0x5A5A5A5A;

void FillFrom(FuzzInput& input, ruta::CImage32& image, bool uniform) {
  const ruta::ArgbPixel colour = input.Take<std::uint32_t>() | 0xFF000000;
  for (std::int64_t i = 0; i < ruta::PixelCount(image); ++i) {
    image.pixels[i] = uniform ? colour : input.Take<std::uint32_t>();
  }
}

void CheckResample(FuzzInput& input) {
  const bool uniform = (input.Take<std::uint8_t>() & 1) != 0;
  ruta::CImage32 source;
  ruta::CImage32 destination;
  KVD_FUZZ_CHECK(source.Resize(input.TakeInRange(1, kMaxSide), input.TakeInRange(1, kMaxSide)));
  KVD_FUZZ_CHECK(destination.Resize(input.TakeInRange(1, kMaxSide), input.TakeInRange(1, kMaxSide)));
  const std::int32_t maxWidth = input.TakeInRange(-2, kMaxSide + 8);
  const std::int32_t maxHeight = input.TakeInRange(-2, kMaxSide + 8);
  FillFrom(input, source, uniform);
  std::fill(destination.pixels, destination.pixels + ruta::PixelCount(destination), kUnwritten);

  ruta::Resample(destination, source, maxWidth, maxHeight);

  for (std::int32_t y = 0; y < destination.height; ++y) {
    for (std::int32_t x = 0; x < destination.width; ++x) {
      const ruta::ArgbPixel pixel = *destination.PixelAt(x, y);
      if (x >= maxWidth || y >= maxHeight) {
        KVD_FUZZ_CHECK(pixel == kUnwritten);
      } else if (uniform) {
        KVD_FUZZ_CHECK(pixel == source.pixels[0]);
      }
    }
  }
}

// The request's columns i (0 <= i < extent) whose source and destination
// positions both fall inside their images, as [first, end).
struct Range {
  std::int64_t first = 0;
  std::int64_t end = 0;
};

Range Inside(std::int64_t sourceStart, std::int64_t destinationStart, std::int64_t extent, std::int64_t sourceSide,
             std::int64_t destinationSide) {
  return {std::max({std::int64_t{0}, -sourceStart, -destinationStart}),
          std::min({extent, sourceSide - sourceStart, destinationSide - destinationStart})};
}

std::int32_t TakeCoordinate(FuzzInput& input) {
  // Mostly near the images, sometimes anywhere in 32 bits.
  const auto choice = input.Take<std::uint8_t>();
  if (choice < 32) return static_cast<std::int32_t>(input.Take<std::uint32_t>());
  return input.TakeInRange(-2 * kMaxSide, 2 * kMaxSide);
}

void CheckBlitRows(FuzzInput& input) {
  ruta::CImage32 source;
  ruta::CImage32 destination;
  KVD_FUZZ_CHECK(source.Resize(input.TakeInRange(1, kMaxSide), input.TakeInRange(1, kMaxSide)));
  KVD_FUZZ_CHECK(destination.Resize(input.TakeInRange(1, kMaxSide), input.TakeInRange(1, kMaxSide)));
  ruta::BlitRect rect;
  rect.srcX = TakeCoordinate(input);
  rect.srcY = TakeCoordinate(input);
  rect.width = TakeCoordinate(input);
  rect.height = TakeCoordinate(input);
  rect.dstX = TakeCoordinate(input);
  rect.dstY = TakeCoordinate(input);

  const Range columns = Inside(rect.srcX, rect.dstX, rect.width, source.width, destination.width);
  const Range rows = Inside(rect.srcY, rect.dstY, rect.height, source.height, destination.height);
  const bool visible = columns.first < columns.end && rows.first < rows.end;

  std::int64_t nextRow = rows.first;
  ruta::BlitRows(source, destination, rect,
                 [&](const ruta::ArgbPixel* sourceRow, std::int32_t sourceIndex, ruta::ArgbPixel* destinationRow,
                     std::int32_t destinationIndex, std::int32_t count) {
                   KVD_FUZZ_CHECK(visible && nextRow < rows.end);
                   KVD_FUZZ_CHECK(sourceRow == source.PixelAt(0, static_cast<std::int32_t>(rect.srcY + nextRow)));
                   KVD_FUZZ_CHECK(destinationRow ==
                                  destination.PixelAt(0, static_cast<std::int32_t>(rect.dstY + nextRow)));
                   KVD_FUZZ_CHECK(sourceIndex == rect.srcX + columns.first);
                   KVD_FUZZ_CHECK(destinationIndex == rect.dstX + columns.first);
                   KVD_FUZZ_CHECK(count == columns.end - columns.first);
                   ++nextRow;
                 });
  KVD_FUZZ_CHECK(nextRow == (visible ? rows.end : rows.first));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  if ((input.Take<std::uint8_t>() & 1) == 0) {
    CheckResample(input);
  } else {
    CheckBlitRows(input);
  }
  return 0;
}
