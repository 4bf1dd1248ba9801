#pragma once

// What the row loops of the compositor share: the loop shape, the source tests
// that skip pixels, and the fixed-point arithmetic of more than one mode.

#include <cstdint>

#include "raster/blend.h"
#include "raster/pixel.h"

namespace ruta {

// Composites count pixels of one run onto the other in one mode; BlendRow
// picks the loop once per call.
using RowLoop = void (*)(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination,
                         std::int32_t count);

// The plain row loop of a mode code, the reference for every faster one; null
// for a code that does nothing.
RowLoop ReferenceRowLoop(std::int32_t mode);

// The pixels a faster loop leaves past its last whole vector go through the
// plain loop.
inline void FinishWithReference(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination,
                                std::int32_t done, std::int32_t count) {
  if (done < count) ReferenceRowLoop(context.mode)(context, source + done, destination + done, count - done);
}

// True where the destination run starts one or more pixels into the source
// run. The plain loops then read source pixels the same call has already
// written, which a loop that reads a vector ahead would miss.
inline bool DestinationAheadInsideSource(const ArgbPixel* source, const ArgbPixel* destination, std::int32_t count) {
  const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(destination) - reinterpret_cast<std::uintptr_t>(source);
  return ahead - 1 < static_cast<std::uintptr_t>(count) * sizeof(ArgbPixel) - 1;  // 0 < ahead < the run's bytes
}

// A faster loop as a table entry: runs overlapping that way take the plain
// loop, so that every entry gives the plain loop's words for every input.
template <RowLoop Fast>
void OverlapSafe(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  if (DestinationAheadInsideSource(source, destination, count)) {
    ReferenceRowLoop(context.mode)(context, source, destination, count);
  } else {
    Fast(context, source, destination, count);
  }
}

// Rewrites one destination pixel in place from one source pixel.
using PixelOperation = void (*)(ArgbPixel& destination, ArgbPixel source, std::int32_t opacity);

// True for a source pixel that leaves its destination pixel as it is.
using SourceSkip = bool (*)(ArgbPixel source);

constexpr bool IsTransparent(ArgbPixel source) { return AlphaOf(source) == 0; }

// The one loop shape of the per-pixel modes: the mode's operation on every
// pixel that its skip test lets through.
template <SourceSkip Skip, PixelOperation Operation>
void PixelRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  const std::int32_t opacity = context.opacity;
  for (std::int32_t i = 0; i < count; ++i) {
    if (!Skip(source[i])) Operation(destination[i], source[i], opacity);
  }
}

// The source alpha weighted by the opacity: s.A when the opacity is 255, 0
// when it is 0.
constexpr std::int32_t EffectiveAlpha(ArgbPixel source, std::int32_t opacity) {
  return Div255(AlphaOf(source) * opacity);
}

constexpr ArgbPixel WithAlpha(ArgbPixel pixel, std::int32_t alpha) {
  return MakeArgb(alpha, RedOf(pixel), GreenOf(pixel), BlueOf(pixel));
}

// What a transparent destination becomes: the source colour, with its alpha
// weighted by the opacity.
constexpr ArgbPixel SourceAtOpacity(ArgbPixel source, std::int32_t opacity) {
  return opacity == 255 ? source : WithAlpha(source, EffectiveAlpha(source, opacity));
}

// The pixel with the given alpha whose colour channels are
// rule(source channel, destination channel), each from the values as read.
template <typename ChannelRule>
constexpr ArgbPixel MapColour(ArgbPixel destination, ArgbPixel source, std::int32_t alpha, ChannelRule rule) {
  return MakeArgb(alpha, rule(RedOf(source), RedOf(destination)), rule(GreenOf(source), GreenOf(destination)),
                  rule(BlueOf(source), BlueOf(destination)));
}

// The channel moved from `from` towards `to` by weight / 255.
constexpr std::int32_t Mix(std::int32_t from, std::int32_t to, std::int32_t weight) {
  return Div255(from * (255 - weight) + to * weight);
}

// Straight-alpha source over a destination that is not transparent, with the
// alphas on the 0 to 65 025 scale. The destination alpha on that scale,
// Div255(d.A x 255), is d.A itself.
struct SourceOver {
  std::int32_t sourceWeight = 0;       // P = s.A x opacity
  std::int32_t effectiveAlpha = 0;     // e = Div255(P)
  std::int32_t destinationWeight = 0;  // (255 - e) x d.A
  std::int32_t alpha = 0;              // A = P + d.A x 255 - e x d.A, at least 255 x d.A

  // The mean of the two colours by their weights; A is the sum of the weights.
  constexpr std::int32_t Channel(std::int32_t s, std::int32_t d) const {
    return (d * destinationWeight + s * sourceWeight) / alpha;
  }
};

constexpr SourceOver SourceOverOf(ArgbPixel destination, ArgbPixel source, std::int32_t opacity) {
  const std::int32_t p = AlphaOf(source) * opacity;
  const std::int32_t e = Div255(p);
  const std::int32_t destinationAlpha = AlphaOf(destination);
  return {p, e, (255 - e) * destinationAlpha, p + destinationAlpha * 255 - e * destinationAlpha};
}

}  // namespace ruta
