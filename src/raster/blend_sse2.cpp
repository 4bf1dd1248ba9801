// SSE2 row loops of the preserving blend modes, four pixels at a time, each
// giving exactly the words of the plain loop in blend.cpp / blend_modes.cpp.
//
// Why one vector formula serves each plain loop, shortcuts included: every
// plain preserving loop writes, per colour channel, Mix(d, V, e) with
// e = Div255(s.A x op) and Mix(d, v, e) = Div255(d x (255 - e) + v x e), or
// skips the pixel. A skipped pixel has e = 0, and Mix(d, v, 0) =
// Div255(255 d) = d; a pixel copied at e = 255 gets Mix(d, v, 255) = v. So
// computing the mix for every pixel, and keeping the destination alpha, gives
// the plain loop's words. Every intermediate stays below 65 536: products of
// two channels are at most 255 x 255, and d x (255 - e) + v x e at most
// 65 025, so 16-bit lanes hold them, and Div255 by multiply-high is exact on
// them (it is up to 65 534).

#include "raster/blend_sse2.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace ruta {
namespace {

// A pixel's four channels in 16-bit lanes: blue, green, red, alpha.
struct Lanes {
  __m128i low;   // pixels 0 and 1
  __m128i high;  // pixels 2 and 3
};

inline Lanes Widen(__m128i pixels) {
  const __m128i zero = _mm_setzero_si128();
  return {_mm_unpacklo_epi8(pixels, zero), _mm_unpackhi_epi8(pixels, zero)};
}

inline __m128i Narrow(__m128i low, __m128i high) { return _mm_packus_epi16(low, high); }

// Div255(x) = ((x + 1) x 257) >> 16 for 0 <= x <= 65 534: one multiply-high
// in place of two shifts and two additions.
inline __m128i Div255(__m128i x) {
  return _mm_mulhi_epu16(_mm_add_epi16(x, _mm_set1_epi16(1)), _mm_set1_epi16(257));
}

inline __m128i Multiply(__m128i a, __m128i b) { return _mm_mullo_epi16(a, b); }
inline __m128i Complement(__m128i x) { return _mm_sub_epi16(_mm_set1_epi16(255), x); }

// Each pixel's alpha in all four of its lanes.
inline __m128i SpreadAlpha(__m128i lanes) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(lanes, 0xFF), 0xFF); }

inline __m128i Mix(__m128i d, __m128i v, __m128i e) {
  return Div255(_mm_add_epi16(Multiply(d, Complement(e)), Multiply(v, e)));
}

// ---- Channel blends F(s, d) in 16-bit lanes, as in blend_modes.cpp ----

struct SourceColour {
  static __m128i F(__m128i s, __m128i) { return s; }
};
struct MultiplyBlend {
  static __m128i F(__m128i s, __m128i d) { return Div255(Multiply(s, d)); }
};
struct ScreenBlend {
  static __m128i F(__m128i s, __m128i d) { return Complement(Div255(Multiply(Complement(s), Complement(d)))); }
};
// d < 128: Div255(2sd), at most 2 x 255 x 127; d >= 128: 255 - Div255((255 - s)(511 - 2d)).
struct OverlayBlend {
  static __m128i F(__m128i s, __m128i d) {
    const __m128i twiceD = _mm_add_epi16(d, d);
    const __m128i lower = Div255(Multiply(s, twiceD));
    const __m128i upper = Complement(Div255(Multiply(Complement(s), _mm_sub_epi16(_mm_set1_epi16(511), twiceD))));
    const __m128i isLower = _mm_cmplt_epi16(d, _mm_set1_epi16(128));
    return _mm_or_si128(_mm_and_si128(isLower, lower), _mm_andnot_si128(isLower, upper));
  }
};
struct LightenBlend {
  static __m128i F(__m128i s, __m128i d) { return _mm_max_epi16(s, d); }
};
struct DarkenBlend {
  static __m128i F(__m128i s, __m128i d) { return _mm_min_epi16(s, d); }
};
struct DifferenceBlend {
  static __m128i F(__m128i s, __m128i d) { return _mm_sub_epi16(_mm_max_epi16(s, d), _mm_min_epi16(s, d)); }
};

// ---- New channel values given e ----

template <typename Blend>
struct Blended {
  static __m128i Value(__m128i s, __m128i d, __m128i e) { return Mix(d, Blend::F(s, d), e); }
};

inline __m128i AlphaMask() { return _mm_set1_epi32(static_cast<int>(0xFF000000u)); }

inline bool AllTransparent(__m128i source) {
  const __m128i alpha = _mm_and_si128(source, AlphaMask());
  return _mm_movemask_epi8(_mm_cmpeq_epi32(alpha, _mm_setzero_si128())) == 0xFFFF;
}

// The weights e = Div255(s.A x op) of each pixel in its colour lanes.
struct Weights {
  __m128i low;
  __m128i high;
};

// At full opacity e is s.A itself: the opacity's multiply is not needed.
template <bool kFullOpacity>
inline Weights WeightsOf(const Lanes& s, __m128i opacity) {
  if constexpr (kFullOpacity) {
    return {SpreadAlpha(s.low), SpreadAlpha(s.high)};
  } else {
    return {Div255(Multiply(SpreadAlpha(s.low), opacity)), Div255(Multiply(SpreadAlpha(s.high), opacity))};
  }
}

// Four pixels: the colour of Value with the given weights, the alpha of d.
template <typename ValueRule>
inline __m128i WeightedPixels(__m128i source, __m128i destination, const Weights& e) {
  const Lanes s = Widen(source);
  const Lanes d = Widen(destination);
  const __m128i colour = Narrow(ValueRule::Value(s.low, d.low, e.low), ValueRule::Value(s.high, d.high, e.high));
  return _mm_or_si128(_mm_andnot_si128(AlphaMask(), colour), _mm_and_si128(destination, AlphaMask()));
}

template <typename ValueRule, bool kFullOpacity = false>
inline __m128i PreservingPixels(__m128i source, __m128i destination, __m128i opacity) {
  return WeightedPixels<ValueRule>(source, destination, WeightsOf<kFullOpacity>(Widen(source), opacity));
}

inline __m128i Load(const ArgbPixel* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(ArgbPixel* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

inline bool AllOpaque(__m128i source) {
  const __m128i alpha = _mm_and_si128(source, AlphaMask());
  return _mm_movemask_epi8(_mm_cmpeq_epi32(alpha, AlphaMask())) == 0xFFFF;
}

// At full opacity an opaque source has e = 255, where Normal takes the source
// colour.
template <typename ValueRule>
struct OpaqueShortcut {
  static constexpr bool kHas = false;
  static __m128i Colour(__m128i s, __m128i) { return s; }
};
template <>
struct OpaqueShortcut<Blended<SourceColour>> {
  static constexpr bool kHas = true;
  static __m128i Colour(__m128i s, __m128i) { return s; }
};

// A group of only opaque sources has e = Div255(255 x op) = op in every
// lane, so it needs no weights of its own; at full opacity Normal copies it.
template <typename ValueRule, bool kFullOpacity>
void PreservingRowAt(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination,
                     std::int32_t count) {
  const __m128i opacity = _mm_set1_epi16(static_cast<short>(context.opacity));
  const Weights opaqueWeights{opacity, opacity};
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i s = Load(source + i);
    if (AllTransparent(s)) continue;
    const __m128i d = Load(destination + i);
    if (!AllOpaque(s)) {
      Store(destination + i, PreservingPixels<ValueRule, kFullOpacity>(s, d, opacity));
    } else if (kFullOpacity && OpaqueShortcut<ValueRule>::kHas) {
      const __m128i colour = OpaqueShortcut<ValueRule>::Colour(s, d);
      Store(destination + i, _mm_or_si128(_mm_andnot_si128(AlphaMask(), colour), _mm_and_si128(d, AlphaMask())));
    } else {
      Store(destination + i, WeightedPixels<ValueRule>(s, d, opaqueWeights));
    }
  }
  FinishWithReference(context, source, destination, i, count);
}

template <typename ValueRule>
void PreservingRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  if (context.opacity == 255) {
    PreservingRowAt<ValueRule, true>(context, source, destination, count);
  } else {
    PreservingRowAt<ValueRule, false>(context, source, destination, count);
  }
}

// ---- Add (7), the channels kept in place ----
//
// Add writes d.c + Div255(s.c x e), saturating at 255, and keeps d's alpha.
// The terms Div255(s.c x e) are formed in the 16-bit halves of each pixel,
// blue and red from the even bytes and green from the odd ones, against an e
// that is 0 opposite the alpha byte, and go onto d by saturating byte
// addition. A transparent source has e = 0 and adds nothing, so no pixel
// needs a branch: with runs of alpha as short as a few pixels, the branches
// of the general loop cost more than the arithmetic they skip.
template <bool kFullOpacity>
inline __m128i AddedPixels(__m128i s, __m128i d, __m128i opacity) {
  __m128i eBesideColour = _mm_srli_epi32(s, 24);
  if (!kFullOpacity) eBesideColour = Div255(Multiply(eBesideColour, opacity));
  const __m128i e = _mm_or_si128(eBesideColour, _mm_slli_epi32(eBesideColour, 16));
  const __m128i blueRed = Div255(Multiply(_mm_and_si128(s, _mm_set1_epi16(0x00FF)), e));
  const __m128i green = Div255(Multiply(_mm_srli_epi16(s, 8), eBesideColour));
  return _mm_adds_epu8(d, _mm_or_si128(blueRed, _mm_slli_epi16(green, 8)));
}

template <bool kFullOpacity>
void AddRowAt(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  const __m128i opacity = _mm_set1_epi16(static_cast<short>(context.opacity));
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    Store(destination + i, AddedPixels<kFullOpacity>(Load(source + i), Load(destination + i), opacity));
  }
  FinishWithReference(context, source, destination, i, count);
}

void AddRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  if (context.opacity == 255) {
    AddRowAt<true>(context, source, destination, count);
  } else {
    AddRowAt<false>(context, source, destination, count);
  }
}

// Normal, except that a source word equal to the key leaves its pixel.
void KeyedNormalRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination,
                    std::int32_t count) {
  const __m128i opacity = _mm_set1_epi16(static_cast<short>(context.opacity));
  const __m128i key = _mm_set1_epi32(static_cast<int>(context.colorKey));
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i s = Load(source + i);
    if (AllTransparent(s)) continue;
    const __m128i d = Load(destination + i);
    const __m128i keyed = _mm_cmpeq_epi32(s, key);
    const __m128i blended = PreservingPixels<Blended<SourceColour>>(s, d, opacity);
    Store(destination + i, _mm_or_si128(_mm_and_si128(keyed, d), _mm_andnot_si128(keyed, blended)));
  }
  FinishWithReference(context, source, destination, i, count);
}

template <bool IsAnd>
void BitwiseRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i s = Load(source + i);
    const __m128i d = Load(destination + i);
    Store(destination + i, IsAnd ? _mm_and_si128(d, s) : _mm_or_si128(d, s));
  }
  FinishWithReference(context, source, destination, i, count);
}

}  // namespace

void FillSse2BlendRows(RowFunctions& functions) {
  auto set = [&functions](BlendMode mode, RowLoop loop) { functions.blend[static_cast<std::size_t>(mode)] = loop; };
  set(BlendMode::And, OverlapSafe<BitwiseRow<true>>);
  set(BlendMode::Or, OverlapSafe<BitwiseRow<false>>);
  set(BlendMode::Normal, OverlapSafe<PreservingRow<Blended<SourceColour>>>);
  set(BlendMode::KeyedNormal, OverlapSafe<KeyedNormalRow>);
  set(BlendMode::Add, OverlapSafe<AddRow>);
  set(BlendMode::Multiply, OverlapSafe<PreservingRow<Blended<MultiplyBlend>>>);
  set(BlendMode::Overlay, OverlapSafe<PreservingRow<Blended<OverlayBlend>>>);
  set(BlendMode::Screen, OverlapSafe<PreservingRow<Blended<ScreenBlend>>>);
  set(BlendMode::Lighten, OverlapSafe<PreservingRow<Blended<LightenBlend>>>);
  set(BlendMode::Darken, OverlapSafe<PreservingRow<Blended<DarkenBlend>>>);
  set(BlendMode::Difference, OverlapSafe<PreservingRow<Blended<DifferenceBlend>>>);
}

}  // namespace ruta

#else
namespace ruta {
void FillSse2BlendRows(RowFunctions&) {}
}  // namespace ruta
#endif
