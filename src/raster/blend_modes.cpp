#include "raster/blend_modes.h"

#include <algorithm>

namespace ruta {
namespace {

// ---- Blend functions F(s, d) of one colour channel ----

using ChannelBlend = std::int32_t (*)(std::int32_t s, std::int32_t d);

constexpr std::int32_t Multiply(std::int32_t s, std::int32_t d) { return Div255(s * d); }

// 511 - 2d rather than 510 - 2d: at d = 128 the overlay gives back s itself.
constexpr std::int32_t Overlay(std::int32_t s, std::int32_t d) {
  if (d < 128) return Div255(2 * s * d);
  return 255 - Div255((255 - s) * (511 - 2 * d));
}

constexpr std::int32_t Screen(std::int32_t s, std::int32_t d) { return 255 - Div255((255 - s) * (255 - d)); }
constexpr std::int32_t Lighten(std::int32_t s, std::int32_t d) { return std::max(s, d); }
constexpr std::int32_t Darken(std::int32_t s, std::int32_t d) { return std::min(s, d); }
constexpr std::int32_t Difference(std::int32_t s, std::int32_t d) { return d > s ? d - s : s - d; }

constexpr std::int32_t ColorDodge(std::int32_t s, std::int32_t d) { return std::min(255, (256 * d) / (256 - s)); }

constexpr std::int32_t ColorBurn(std::int32_t s, std::int32_t d) {
  return 255 - std::min(255, (256 * (255 - d)) / (s + 1));
}

// ---- Blend values: the new channel given the effective alpha e ----

using ChannelValue = std::int32_t (*)(std::int32_t s, std::int32_t d, std::int32_t e);

// F mixed into the destination by e.
template <ChannelBlend F>
constexpr std::int32_t Blended(std::int32_t s, std::int32_t d, std::int32_t e) {
  const std::int32_t v = F(s, d);
  return e == 255 ? v : Mix(d, v, e);
}

// Add has no F: the source enters already weighted by e.
constexpr std::int32_t Added(std::int32_t s, std::int32_t d, std::int32_t e) {
  return std::min(255, d + Div255(s * e));
}

// ---- Per-pixel operations ----

// Assumes nothing about the destination alpha and never changes it.
template <ChannelValue V>
void PreservingPixel(ArgbPixel& d, ArgbPixel s, std::int32_t opacity) {
  const std::int32_t e = EffectiveAlpha(s, opacity);
  if (e == 0) return;
  d = MapColour(d, s, AlphaOf(d), [e](std::int32_t sc, std::int32_t dc) { return V(sc, dc, e); });
}

// Derivation: A, W and q are NormalAlpha's coverage, destination weight and
// source-over colour. The blend value v applies where the destination was
// there to blend with: w = (A + 510) >> 8 is the coverage on a 0 to 256
// scale, scaled by d.A / 255 where the destination is partly transparent;
// the colour moves from q to v by w / 255, Div255(q x (255 - w) + v x w),
// which is v itself once w reaches 255.
//
// For a destination with alpha: the blend value counts by how much the
// destination covers (w), the rest is plain source over. On an opaque
// destination w reaches 255 and the result is the preserving form's.
template <ChannelValue V>
void CompositingPixel(ArgbPixel& d, ArgbPixel s, std::int32_t opacity) {
  const SourceOver over = SourceOverOf(d, s, opacity);
  const std::int32_t destinationAlpha = AlphaOf(d);
  std::int32_t w = (over.alpha + 510) >> 8;
  if (destinationAlpha != 255) w = Div255(destinationAlpha * w);
  d = MapColour(d, s, Div255(over.alpha), [&over, w](std::int32_t sc, std::int32_t dc) {
    const std::int32_t v = V(sc, dc, over.effectiveAlpha);
    if (w >= 255) return v;
    return Div255(over.Channel(sc, dc) * (255 - w) + v * w);
  });
}

// A transparent destination has no colour to blend with: it takes the source.
template <PixelOperation Composite>
void CopyOntoTransparentOr(ArgbPixel& d, ArgbPixel s, std::int32_t opacity) {
  if (IsTransparent(d)) {
    d = SourceAtOpacity(s, opacity);
  } else {
    Composite(d, s, opacity);
  }
}

// 255 minus the exclusion of s and d: a black source inverts the
// destination, a white one leaves it. Its opacity weight f runs from 1 to 256.
void InvertedExclusionPixel(ArgbPixel& d, ArgbPixel s, std::int32_t opacity) {
  const std::int32_t f = ((AlphaOf(s) + 1) * opacity) / 256 + 1;
  d = MapColour(d, s, AlphaOf(d), [f](std::int32_t sc, std::int32_t dc) {
    const std::int32_t x = ((255 - sc) * f) / 256;
    // Negative for dc >= 128; C++ division truncates toward zero, as it must here.
    return dc + ((255 - 2 * dc) * x) / 255;
  });
}

// Its own arithmetic, every division by 255 truncating. The destination
// weight k is taken as computed, even where k + P falls short of A.
void InvertedExclusionAlphaPixel(ArgbPixel& d, ArgbPixel s, std::int32_t opacity) {
  const std::int32_t p = AlphaOf(s) * opacity;
  const std::int32_t e = p / 255;
  const std::int32_t destinationAlpha = AlphaOf(d);
  const std::int32_t a = p - destinationAlpha * e + destinationAlpha * 255;
  if (a == 0) return;
  const std::int32_t k = ((65025 - p) / 255) * destinationAlpha;
  const std::int32_t outAlpha = a / 255;
  const std::int32_t w = (outAlpha * destinationAlpha) / 255;
  d = MapColour(d, s, outAlpha, [=](std::int32_t sc, std::int32_t dc) {
    const std::int32_t q = (dc * k + sc * p) / a;
    const std::int32_t x = ((255 - sc) * e) / 255;
    const std::int32_t v = dc + ((255 - 2 * dc) * x) / 255;
    return (v * w + q * (255 - w)) / 255;
  });
}

// ---- Row loops ----

constexpr bool IsZeroWord(ArgbPixel source) { return source == 0; }

// Multiplying by white returns the destination.
constexpr bool IsTransparentOrWhite(ArgbPixel source) {
  return IsTransparent(source) || (source & 0x00FFFFFFu) == 0x00FFFFFFu;
}

template <ChannelValue V>
constexpr RowLoop kPreservingRow = PixelRow<IsTransparent, PreservingPixel<V>>;

template <ChannelValue V>
constexpr RowLoop kCompositingRow = PixelRow<IsTransparent, CopyOntoTransparentOr<CompositingPixel<V>>>;

}  // namespace

RowLoop ArithmeticRowLoop(std::int32_t mode) {
  switch (static_cast<BlendMode>(mode)) {
    case BlendMode::Add: return PixelRow<IsZeroWord, PreservingPixel<Added>>;
    case BlendMode::Multiply: return PixelRow<IsTransparentOrWhite, PreservingPixel<Blended<Multiply>>>;
    case BlendMode::Overlay: return kPreservingRow<Blended<Overlay>>;
    case BlendMode::Screen: return kPreservingRow<Blended<Screen>>;
    case BlendMode::InvertedExclusion: return PixelRow<IsTransparent, InvertedExclusionPixel>;
    case BlendMode::Lighten: return kPreservingRow<Blended<Lighten>>;
    case BlendMode::Darken: return kPreservingRow<Blended<Darken>>;
    case BlendMode::Difference: return kPreservingRow<Blended<Difference>>;
    case BlendMode::ColorDodge: return kPreservingRow<Blended<ColorDodge>>;
    case BlendMode::ColorBurn: return kPreservingRow<Blended<ColorBurn>>;
    case BlendMode::MultiplyAlpha: return kCompositingRow<Blended<Multiply>>;
    case BlendMode::AddAlpha: return kCompositingRow<Added>;
    case BlendMode::OverlayAlpha: return kCompositingRow<Blended<Overlay>>;
    case BlendMode::ScreenAlpha: return kCompositingRow<Blended<Screen>>;
    case BlendMode::InvertedExclusionAlpha: return PixelRow<IsTransparent, InvertedExclusionAlphaPixel>;
    case BlendMode::LightenAlpha: return kCompositingRow<Blended<Lighten>>;
    case BlendMode::DarkenAlpha: return kCompositingRow<Blended<Darken>>;
    case BlendMode::DifferenceAlpha: return kCompositingRow<Blended<Difference>>;
    case BlendMode::ColorDodgeAlpha: return kCompositingRow<Blended<ColorDodge>>;
    case BlendMode::ColorBurnAlpha: return kCompositingRow<Blended<ColorBurn>>;
    default: return nullptr;
  }
}

}  // namespace ruta
