// BlendRow over random rows, modes, opacities and colour keys: it writes the
// destination run it was given and nothing else, never touches the source,
// and leaves everything alone for an unknown mode or an empty run.

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "raster/blend.h"

namespace {

// Every code of the compositor's table, and codes around and far outside it.
constexpr std::array<std::int32_t, 28> kKnownModes = {0,  1,  2,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                                      22, 23, 25, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38};
constexpr std::array<std::int32_t, 8> kUnknownModes = {-1, 3, 5, 24, 27, 39, 255, 1 << 30};

bool IsKnownMode(std::int32_t mode) {
  return std::find(kKnownModes.begin(), kKnownModes.end(), mode) != kKnownModes.end();
}

std::int32_t ModeCode(std::uint8_t choice) {
  const std::size_t index = choice % (kKnownModes.size() + kUnknownModes.size());
  return index < kKnownModes.size() ? kKnownModes[index] : kUnknownModes[index - kKnownModes.size()];
}

constexpr std::int32_t kMaxRowPixels = 512;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvd::fuzz::FuzzInput input(data, size);
  ruta::BlendContext context;
  context.mode = ModeCode(input.Take<std::uint8_t>());
  context.opacity = input.Take<std::uint8_t>();
  context.colorKey = input.Take<std::uint32_t>();
  const std::int32_t sourceLength = input.TakeInRange(0, kMaxRowPixels);
  const std::int32_t destinationLength = input.TakeInRange(0, kMaxRowPixels);
  const std::int32_t sourceIndex = input.TakeInRange(0, sourceLength);
  const std::int32_t destinationIndex = input.TakeInRange(0, destinationLength);
  // A count at or below 0 must do nothing; above 0 it fits both runs.
  const std::int32_t room = std::min(sourceLength - sourceIndex, destinationLength - destinationIndex);
  const std::int32_t count = input.TakeInRange(-2, room);
  const std::vector<std::uint32_t> sourceWords = input.TakeWords(static_cast<std::size_t>(sourceLength));
  const std::vector<std::uint32_t> destinationWords = input.TakeWords(static_cast<std::size_t>(destinationLength));

  // Exactly sized buffers: a sanitizer sees any step outside them.
  const std::vector<ruta::ArgbPixel> source = sourceWords;
  std::vector<ruta::ArgbPixel> destination = destinationWords;
  ruta::BlendRow(context, source.empty() ? nullptr : source.data(), sourceIndex,
                 destination.empty() ? nullptr : destination.data(), destinationIndex, count);

  KVD_FUZZ_CHECK(source == sourceWords);
  const bool untouched = count <= 0 || !IsKnownMode(context.mode) || source.empty() || destination.empty();
  for (std::int32_t i = 0; i < destinationLength; ++i) {
    const bool inRun = !untouched && i >= destinationIndex && i < destinationIndex + count;
    if (!inRun) KVD_FUZZ_CHECK(destination[static_cast<std::size_t>(i)] == destinationWords[static_cast<std::size_t>(i)]);
  }
  return 0;
}
