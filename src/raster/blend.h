#pragma once

#include <cstdint>

#include "raster/pixel.h"

namespace ruta {

// The mode codes of BlendRow. Codes not listed here make it do nothing.
enum class BlendMode : std::int32_t {
  Copy = 0,
  And = 1,
  Or = 2,
  Normal = 6,
  Add = 7,
  Multiply = 8,
  Overlay = 9,
  Screen = 10,
  InvertedExclusion = 11,
  Lighten = 12,
  Darken = 13,
  Difference = 14,
  ColorDodge = 15,
  ColorBurn = 16,
  EraseAlpha = 22,
  EraseInverseAlpha = 23,
  KeyedNormal = 25,
  NormalAlpha = 28,
  MultiplyAlpha = 29,
  AddAlpha = 30,
  OverlayAlpha = 31,
  ScreenAlpha = 32,
  InvertedExclusionAlpha = 33,
  LightenAlpha = 34,
  DarkenAlpha = 35,
  DifferenceAlpha = 36,
  ColorDodgeAlpha = 37,
  ColorBurnAlpha = 38,
};

// The parameters of a row composite. The reserved fields are carried as data;
// nothing reads them.
struct BlendContext {
  std::int32_t mode = static_cast<std::int32_t>(BlendMode::Copy);
  std::uint8_t opacity = 255;
  ArgbPixel colorKey = 0;  // mode KeyedNormal skips source words equal to it
  ArgbPixel reservedColour1 = 0;
  ArgbPixel reservedColour2 = 0;
  std::uint8_t reservedByte = 0;
  std::int32_t reservedIndex = -1;
  std::int32_t reservedWords[4] = {0, 0, 0, 0};
  std::uintptr_t reservedPointer = 0;
};

// Exact floor(x / 255) for 0 <= x <= 65789, by shifts and additions.
constexpr std::int32_t Div255(std::int32_t x) {
  const std::int32_t t = x + 1;
  return (t + (t >> 8)) >> 8;
}

// Composites count source pixels from sourceRow + sourceIndex onto as many
// destination pixels from destinationRow + destinationIndex, in the context's
// mode. A null row, count <= 0 or an unknown mode leaves the destination as it
// was. The caller guarantees both runs lie inside their buffers; in Copy mode
// they must not overlap.
void BlendRow(const BlendContext& context, const ArgbPixel* sourceRow, std::int32_t sourceIndex,
              ArgbPixel* destinationRow, std::int32_t destinationIndex, std::int32_t count);

}  // namespace ruta
