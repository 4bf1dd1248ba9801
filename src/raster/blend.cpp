#include "raster/blend.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "raster/blend_modes.h"
#include "raster/blend_row.h"
#include "raster/row_functions.h"

namespace ruta {
namespace {

void CopyRow(const BlendContext&, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  std::memcpy(destination, source, static_cast<std::size_t>(count) * sizeof(ArgbPixel));
}

constexpr bool NeverSkip(ArgbPixel) { return false; }
constexpr bool IsOpaque(ArgbPixel source) { return AlphaOf(source) == 255; }

// The bitwise modes treat alpha like any other bits.
void AndPixel(ArgbPixel& d, ArgbPixel s, std::int32_t) { d &= s; }
void OrPixel(ArgbPixel& d, ArgbPixel s, std::int32_t) { d |= s; }

// Source over destination, keeping the destination alpha. The caller has
// skipped a transparent source.
//
// Derivation: the source covers the fraction e / 255 of the pixel, with
// e = Div255(s.A x op); the colour is the weighted mean of both colours,
// c = (s.c x e + d.c x (255 - e)) / 255, floored by Div255 (the sum is at most
// 65 025). An opaque source at full opacity has e = 255, where the mean is
// s.c itself, so copying it is the same result.
void NormalPixel(ArgbPixel& d, ArgbPixel s, std::int32_t opacity) {
  if (IsOpaque(s) && opacity == 255) {
    d = WithAlpha(s, AlphaOf(d));
    return;
  }
  const std::int32_t e = EffectiveAlpha(s, opacity);
  d = MapColour(d, s, AlphaOf(d), [e](std::int32_t sc, std::int32_t dc) { return Mix(dc, sc, e); });
}

void KeyedNormalRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  if (context.opacity == 0) return;
  for (std::int32_t i = 0; i < count; ++i) {
    if (source[i] == context.colorKey || IsTransparent(source[i])) continue;
    NormalPixel(destination[i], source[i], context.opacity);
  }
}

// Straight-alpha source over destination; both alphas count. The caller has
// skipped a transparent source.
//
// Derivation: on the 0 to 65 025 scale the source weighs P = s.A x op and
// the destination what the source leaves of it, W = (255 - e) x d.A. The
// result's coverage is their sum A = P + d.A x 255 - e x d.A (= P + W), its
// alpha Div255(A), and each straight colour the weighted mean
// floor((d.c x W + s.c x P) / A). The mean of two equal colours is that
// colour, hence the channel shortcut; d.A = 0 gives W = 0 and the source
// colour. An opaque destination takes Normal's arithmetic instead, as the
// mode defines.
void NormalAlphaPixel(ArgbPixel& d, ArgbPixel s, std::int32_t opacity) {
  const std::int32_t destinationAlpha = AlphaOf(d);
  if (destinationAlpha == 0) {
    d = SourceAtOpacity(s, opacity);
  } else if (IsOpaque(s) && opacity == 255) {
    d = s;
  } else if (destinationAlpha == 255) {
    NormalPixel(d, s, opacity);
  } else {
    const SourceOver over = SourceOverOf(d, s, opacity);
    // A channel already equal to the source's keeps its value: the weights sum to A.
    d = MapColour(d, s, Div255(over.alpha),
                  [&over](std::int32_t sc, std::int32_t dc) { return sc == dc ? dc : over.Channel(sc, dc); });
  }
}

// Erasing lowers only the destination alpha, never below 0; the colour stays.
void LowerAlpha(ArgbPixel& d, std::int32_t amount) { d = WithAlpha(d, std::max(0, AlphaOf(d) - amount)); }

void EraseAlphaPixel(ArgbPixel& d, ArgbPixel s, std::int32_t opacity) { LowerAlpha(d, Div255(opacity * AlphaOf(s))); }

void EraseInverseAlphaPixel(ArgbPixel& d, ArgbPixel s, std::int32_t opacity) {
  LowerAlpha(d, Div255(opacity * (255 - AlphaOf(s))));
}

}  // namespace

RowLoop ReferenceRowLoop(std::int32_t mode) {
  switch (static_cast<BlendMode>(mode)) {
    case BlendMode::Copy: return CopyRow;
    case BlendMode::And: return PixelRow<NeverSkip, AndPixel>;
    case BlendMode::Or: return PixelRow<NeverSkip, OrPixel>;
    case BlendMode::Normal: return PixelRow<IsTransparent, NormalPixel>;
    case BlendMode::EraseAlpha: return PixelRow<IsTransparent, EraseAlphaPixel>;
    case BlendMode::EraseInverseAlpha: return PixelRow<IsOpaque, EraseInverseAlphaPixel>;
    case BlendMode::KeyedNormal: return KeyedNormalRow;
    case BlendMode::NormalAlpha: return PixelRow<IsTransparent, NormalAlphaPixel>;
    default: return ArithmeticRowLoop(mode);
  }
}

void BlendRow(const BlendContext& context, const ArgbPixel* sourceRow, std::int32_t sourceIndex,
              ArgbPixel* destinationRow, std::int32_t destinationIndex, std::int32_t count) {
  if (sourceRow == nullptr || destinationRow == nullptr || count <= 0) return;
  if (context.mode < 0 || context.mode >= kBlendModeSlots) return;
  const RowLoop loop = ActiveRowFunctions().blend[static_cast<std::size_t>(context.mode)];
  if (loop == nullptr) return;
  loop(context, sourceRow + sourceIndex, destinationRow + destinationIndex, count);
}

}  // namespace ruta
