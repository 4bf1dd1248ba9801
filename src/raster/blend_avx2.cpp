// AVX2 row loops of the preserving blend modes, eight pixels at a time: the
// SSE2 loops of blend_sse2.cpp on vectors twice as wide, with the same
// arithmetic. The file is built for any x86-64; the functions between the
// target pragmas use AVX2 and run only where the processor has it.
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

#include "raster/blend_avx2.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace ruta {
namespace {

// Everything below is compiled for AVX2; clang spells that differently.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

// A pixel's four channels in 16-bit lanes: blue, green, red, alpha.
struct Lanes {
  __m256i low;   // pixels 0, 1, 4 and 5
  __m256i high;  // pixels 2, 3, 6 and 7
};

inline Lanes Widen(__m256i pixels) {
  const __m256i zero = _mm256_setzero_si256();
  return {_mm256_unpacklo_epi8(pixels, zero), _mm256_unpackhi_epi8(pixels, zero)};
}

inline __m256i Narrow(__m256i low, __m256i high) { return _mm256_packus_epi16(low, high); }

// Div255(x) = ((x + 1) x 257) >> 16 for 0 <= x <= 65 534: one multiply-high
// in place of two shifts and two additions.
inline __m256i Div255(__m256i x) {
  return _mm256_mulhi_epu16(_mm256_add_epi16(x, _mm256_set1_epi16(1)), _mm256_set1_epi16(257));
}

inline __m256i Multiply(__m256i a, __m256i b) { return _mm256_mullo_epi16(a, b); }
inline __m256i Complement(__m256i x) { return _mm256_sub_epi16(_mm256_set1_epi16(255), x); }

// Each pixel's alpha in all four of its lanes.
inline __m256i SpreadAlpha(__m256i lanes) { return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(lanes, 0xFF), 0xFF); }

inline __m256i Mix(__m256i d, __m256i v, __m256i e) {
  return Div255(_mm256_add_epi16(Multiply(d, Complement(e)), Multiply(v, e)));
}

// ---- Channel blends F(s, d) in 16-bit lanes, as in blend_modes.cpp ----

struct SourceColour {
  static __m256i F(__m256i s, __m256i) { return s; }
};
struct MultiplyBlend {
  static __m256i F(__m256i s, __m256i d) { return Div255(Multiply(s, d)); }
};
struct ScreenBlend {
  static __m256i F(__m256i s, __m256i d) { return Complement(Div255(Multiply(Complement(s), Complement(d)))); }
};
// d < 128: Div255(2sd), at most 2 x 255 x 127; d >= 128: 255 - Div255((255 - s)(511 - 2d)).
struct OverlayBlend {
  static __m256i F(__m256i s, __m256i d) {
    const __m256i twiceD = _mm256_add_epi16(d, d);
    const __m256i lower = Div255(Multiply(s, twiceD));
    const __m256i upper = Complement(Div255(Multiply(Complement(s), _mm256_sub_epi16(_mm256_set1_epi16(511), twiceD))));
    const __m256i isLower = _mm256_cmpgt_epi16(_mm256_set1_epi16(128), d);
    return _mm256_or_si256(_mm256_and_si256(isLower, lower), _mm256_andnot_si256(isLower, upper));
  }
};
struct LightenBlend {
  static __m256i F(__m256i s, __m256i d) { return _mm256_max_epi16(s, d); }
};
struct DarkenBlend {
  static __m256i F(__m256i s, __m256i d) { return _mm256_min_epi16(s, d); }
};
struct DifferenceBlend {
  static __m256i F(__m256i s, __m256i d) { return _mm256_sub_epi16(_mm256_max_epi16(s, d), _mm256_min_epi16(s, d)); }
};

// ---- New channel values given e ----

template <typename Blend>
struct Blended {
  static __m256i Value(__m256i s, __m256i d, __m256i e) { return Mix(d, Blend::F(s, d), e); }
};

inline __m256i AlphaMask() { return _mm256_set1_epi32(static_cast<int>(0xFF000000u)); }

inline bool AllTransparent(__m256i source) {
  const __m256i alpha = _mm256_and_si256(source, AlphaMask());
  return _mm256_movemask_epi8(_mm256_cmpeq_epi32(alpha, _mm256_setzero_si256())) == -1;
}

// The weights e = Div255(s.A x op) of each pixel in its colour lanes.
struct Weights {
  __m256i low;
  __m256i high;
};

// At full opacity e is s.A itself: the opacity's multiply is not needed.
template <bool kFullOpacity>
inline Weights WeightsOf(const Lanes& s, __m256i opacity) {
  if constexpr (kFullOpacity) {
    return {SpreadAlpha(s.low), SpreadAlpha(s.high)};
  } else {
    return {Div255(Multiply(SpreadAlpha(s.low), opacity)), Div255(Multiply(SpreadAlpha(s.high), opacity))};
  }
}

// Eight pixels: the colour of Value with the given weights, the alpha of d.
template <typename ValueRule>
inline __m256i WeightedPixels(__m256i source, __m256i destination, const Weights& e) {
  const Lanes s = Widen(source);
  const Lanes d = Widen(destination);
  const __m256i colour = Narrow(ValueRule::Value(s.low, d.low, e.low), ValueRule::Value(s.high, d.high, e.high));
  return _mm256_or_si256(_mm256_andnot_si256(AlphaMask(), colour), _mm256_and_si256(destination, AlphaMask()));
}

template <typename ValueRule, bool kFullOpacity = false>
inline __m256i PreservingPixels(__m256i source, __m256i destination, __m256i opacity) {
  return WeightedPixels<ValueRule>(source, destination, WeightsOf<kFullOpacity>(Widen(source), opacity));
}

inline __m256i Load(const ArgbPixel* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void Store(ArgbPixel* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

inline bool AllOpaque(__m256i source) {
  const __m256i alpha = _mm256_and_si256(source, AlphaMask());
  return _mm256_movemask_epi8(_mm256_cmpeq_epi32(alpha, AlphaMask())) == -1;
}

// At full opacity an opaque source has e = 255, where Normal takes the source
// colour.
template <typename ValueRule>
struct OpaqueShortcut {
  static constexpr bool kHas = false;
  static __m256i Colour(__m256i s, __m256i) { return s; }
};
template <>
struct OpaqueShortcut<Blended<SourceColour>> {
  static constexpr bool kHas = true;
  static __m256i Colour(__m256i s, __m256i) { return s; }
};

// A group of only opaque sources has e = Div255(255 x op) = op in every
// lane, so it needs no weights of its own; at full opacity Normal copies it.
template <typename ValueRule, bool kFullOpacity>
void PreservingRowAt(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination,
                     std::int32_t count) {
  const __m256i opacity = _mm256_set1_epi16(static_cast<short>(context.opacity));
  const Weights opaqueWeights{opacity, opacity};
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i s = Load(source + i);
    if (AllTransparent(s)) continue;
    const __m256i d = Load(destination + i);
    if (!AllOpaque(s)) {
      Store(destination + i, PreservingPixels<ValueRule, kFullOpacity>(s, d, opacity));
    } else if (kFullOpacity && OpaqueShortcut<ValueRule>::kHas) {
      const __m256i colour = OpaqueShortcut<ValueRule>::Colour(s, d);
      Store(destination + i, _mm256_or_si256(_mm256_andnot_si256(AlphaMask(), colour), _mm256_and_si256(d, AlphaMask())));
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

// Each pixel's alpha in both 16-bit halves of its lane.
inline __m256i SourceAlphaInHalves(__m256i s) {
  const __m256i pick = _mm256_setr_epi8(3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1,  //
                                        3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1);
  return _mm256_shuffle_epi8(s, pick);
}

template <bool kFullOpacity>
inline __m256i AddedPixels(__m256i s, __m256i d, __m256i opacity) {
  __m256i e = SourceAlphaInHalves(s);
  if (!kFullOpacity) e = Div255(Multiply(e, opacity));
  const __m256i eBesideColour = _mm256_and_si256(e, _mm256_set1_epi32(0x0000FFFF));
  const __m256i blueRed = Div255(Multiply(_mm256_and_si256(s, _mm256_set1_epi16(0x00FF)), e));
  const __m256i green = Div255(Multiply(_mm256_srli_epi16(s, 8), eBesideColour));
  return _mm256_adds_epu8(d, _mm256_or_si256(blueRed, _mm256_slli_epi16(green, 8)));
}

template <bool kFullOpacity>
void AddRowAt(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  const __m256i opacity = _mm256_set1_epi16(static_cast<short>(context.opacity));
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
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
  const __m256i opacity = _mm256_set1_epi16(static_cast<short>(context.opacity));
  const __m256i key = _mm256_set1_epi32(static_cast<int>(context.colorKey));
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i s = Load(source + i);
    if (AllTransparent(s)) continue;
    const __m256i d = Load(destination + i);
    const __m256i keyed = _mm256_cmpeq_epi32(s, key);
    const __m256i blended = PreservingPixels<Blended<SourceColour>>(s, d, opacity);
    Store(destination + i, _mm256_or_si256(_mm256_and_si256(keyed, d), _mm256_andnot_si256(keyed, blended)));
  }
  FinishWithReference(context, source, destination, i, count);
}

template <bool IsAnd>
void BitwiseRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i s = Load(source + i);
    const __m256i d = Load(destination + i);
    Store(destination + i, IsAnd ? _mm256_and_si256(d, s) : _mm256_or_si256(d, s));
  }
  FinishWithReference(context, source, destination, i, count);
}

// ---- NormalAlpha (28), one pixel per 32-bit lane ----
//
// The plain loop's branches as one formula with three selections: a
// transparent source keeps d; a transparent destination takes the source
// colour with alpha e (= s.A at op 255); an opaque destination takes Normal's
// Mix with alpha 255; any other pixel takes q = floor((d.c x W + s.c x P) / A)
// with alpha Div255(A). The general formula also gives the plain loop's words
// where it copies an opaque source (W = 0, A = P) and where it leaves a
// channel equal to the source's (W + P = A), so those need no selection.
//
// Every quotient floor(n / a) of these loops is one float division, rounded
// to nearest, then truncated, with no correcting step. Its numerator stays
// below 255 x 65 279 < 2^24 and a below 2^16, so both are exact in a float.
// Below 2^m the floats lie at most 2^(m - 24) apart, so rounding moves a
// quotient below 2^m by at most 2^(m - 25); a quotient that is an integer is
// a float and stays, and one that is not lies at least 1 / a below the next
// integer, which rounding cannot reach while 1 / a > 2^(m - 25). Both uses
// keep to that: source-over colours (q < 2^8, a <= 65 025 < 2^17) and the
// dodge and burn quotients (q < 2^16, a <= 256 < 2^9).

inline __m256i Lanes32(std::uint32_t value) { return _mm256_set1_epi32(static_cast<int>(value)); }

inline __m256i Channel32(__m256i pixels, int shift) {
  return _mm256_and_si256(_mm256_srli_epi32(pixels, shift), Lanes32(255));
}

// Every value divided here is below 65 535, so the 16-bit Div255 serves: the
// high half of each lane, 0, becomes 1 and then mulhi(1, 257) = 0 again.
inline __m256i Div255x32(__m256i x) { return Div255(x); }

inline __m256 AsFloat(__m256i lanes) { return _mm256_cvtepi32_ps(lanes); }

inline __m256i FloorDivide(__m256i n, __m256 a) { return _mm256_cvttps_epi32(_mm256_div_ps(AsFloat(n), a)); }

inline __m256i Pack32(__m256i alpha, __m256i red, __m256i green, __m256i blue) {
  return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(alpha, 24), _mm256_slli_epi32(red, 16)),
                         _mm256_or_si256(_mm256_slli_epi32(green, 8), blue));
}

// Over an opaque destination: Div255(s.c x e + d.c x (255 - e)), alpha 255.
inline __m256i NormalOverOpaque(__m256i s, __m256i d, __m256i e) {
  const __m256i keep = _mm256_sub_epi32(Lanes32(255), e);
  auto mix = [&](int shift) {
    return Div255x32(_mm256_add_epi32(_mm256_mullo_epi32(Channel32(s, shift), e),
                                      _mm256_mullo_epi32(Channel32(d, shift), keep)));
  };
  return Pack32(Lanes32(255), mix(16), mix(8), mix(0));
}

inline __m256i SourceOver(__m256i s, __m256i d, __m256i p, __m256i e, __m256i destinationAlpha) {
  const __m256i w = _mm256_mullo_epi32(_mm256_sub_epi32(Lanes32(255), e), destinationAlpha);
  const __m256i a = _mm256_sub_epi32(_mm256_add_epi32(p, _mm256_mullo_epi32(destinationAlpha, Lanes32(255))),
                                     _mm256_mullo_epi32(e, destinationAlpha));
  const __m256 aFloat = AsFloat(a);
  auto channel = [&](int shift) {
    const __m256i n = _mm256_add_epi32(_mm256_mullo_epi32(Channel32(d, shift), w),
                                       _mm256_mullo_epi32(Channel32(s, shift), p));
    return FloorDivide(n, aFloat);
  };
  return Pack32(Div255x32(a), channel(16), channel(8), channel(0));
}

inline bool AllLanes(__m256i mask) { return _mm256_movemask_epi8(mask) == -1; }

// The source colour with alpha e: what a transparent destination becomes.
inline __m256i SourceWithAlpha(__m256i s, __m256i e) {
  return _mm256_or_si256(_mm256_andnot_si256(AlphaMask(), s), _mm256_slli_epi32(e, 24));
}

void NormalAlphaRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination,
                    std::int32_t count) {
  const __m256i opacity = Lanes32(context.opacity);
  const bool fullOpacity = context.opacity == 255;
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i s = Load(source + i);
    const __m256i sourceAlpha = _mm256_srli_epi32(s, 24);
    const __m256i transparentSource = _mm256_cmpeq_epi32(sourceAlpha, _mm256_setzero_si256());
    if (AllLanes(transparentSource)) continue;
    // At full opacity an opaque source replaces its pixel whatever lies
    // there, so a group of transparent and opaque sources alone, as where a
    // stroke's edge crosses it, needs no arithmetic.
    const __m256i opaqueSource = fullOpacity ? _mm256_cmpeq_epi32(sourceAlpha, Lanes32(255)) : _mm256_setzero_si256();
    if (AllLanes(_mm256_or_si256(opaqueSource, transparentSource))) {
      Store(destination + i, _mm256_blendv_epi8(Load(destination + i), s, opaqueSource));
      continue;
    }
    const __m256i d = Load(destination + i);
    const __m256i destinationAlpha = _mm256_srli_epi32(d, 24);
    const __m256i p = _mm256_mullo_epi32(sourceAlpha, opacity);
    const __m256i e = Div255x32(p);
    const __m256i transparentDestination = _mm256_cmpeq_epi32(destinationAlpha, _mm256_setzero_si256());
    if (AllLanes(transparentDestination)) {
      Store(destination + i, _mm256_blendv_epi8(SourceWithAlpha(s, e), d, transparentSource));
      continue;
    }
    const __m256i opaqueDestination = _mm256_cmpeq_epi32(destinationAlpha, Lanes32(255));
    const int opaqueBytes = _mm256_movemask_epi8(opaqueDestination);
    __m256i out;
    if (opaqueBytes == -1) {
      out = NormalOverOpaque(s, d, e);
    } else {
      out = SourceOver(s, d, p, e, destinationAlpha);
      // Layers are mostly wholly opaque or wholly not: only a group that
      // mixes the two pays for both formulas.
      if (opaqueBytes != 0) out = _mm256_blendv_epi8(out, NormalOverOpaque(s, d, e), opaqueDestination);
      out = _mm256_blendv_epi8(out, SourceWithAlpha(s, e), transparentDestination);
    }
    Store(destination + i, _mm256_blendv_epi8(out, d, transparentSource));
  }
  FinishWithReference(context, source, destination, i, count);
}

// ---- The compositing forms (29 to 38 but 33) and the dividing preserving
// forms (15, 16), one pixel per 32-bit lane ----
//
// The plain compositing loop, per pixel that is not skipped: v = V(s.c, d.c, e),
// q = the source-over colour of NormalAlpha, w the coverage weight, and
// Div255(q x (255 - w) + v x w), which is v itself at w = 255; so w is
// capped at 255 and the one formula serves both of the plain code's cases.
// The dodge and burn quotients (numerator below 2^16, divisor 1 to 256) are
// exact by the same float division as q.

struct Multiply32 {
  using Preserving = MultiplyBlend;
  static __m256i F(__m256i s, __m256i d) { return Div255x32(_mm256_mullo_epi32(s, d)); }
};
struct Screen32 {
  using Preserving = ScreenBlend;
  static __m256i F(__m256i s, __m256i d) {
    const __m256i full = Lanes32(255);
    return _mm256_sub_epi32(full, Div255x32(_mm256_mullo_epi32(_mm256_sub_epi32(full, s), _mm256_sub_epi32(full, d))));
  }
};
struct Overlay32 {
  using Preserving = OverlayBlend;
  static __m256i F(__m256i s, __m256i d) {
    const __m256i full = Lanes32(255);
    const __m256i twiceD = _mm256_add_epi32(d, d);
    const __m256i lower = Div255x32(_mm256_mullo_epi32(s, twiceD));
    const __m256i upper = _mm256_sub_epi32(
        full, Div255x32(_mm256_mullo_epi32(_mm256_sub_epi32(full, s), _mm256_sub_epi32(Lanes32(511), twiceD))));
    return _mm256_blendv_epi8(upper, lower, _mm256_cmpgt_epi32(Lanes32(128), d));
  }
};
struct Lighten32 {
  using Preserving = LightenBlend;
  static __m256i F(__m256i s, __m256i d) { return _mm256_max_epi32(s, d); }
};
struct Darken32 {
  using Preserving = DarkenBlend;
  static __m256i F(__m256i s, __m256i d) { return _mm256_min_epi32(s, d); }
};
struct Difference32 {
  using Preserving = DifferenceBlend;
  static __m256i F(__m256i s, __m256i d) { return _mm256_sub_epi32(_mm256_max_epi32(s, d), _mm256_min_epi32(s, d)); }
};
inline __m256i ExactQuotient(__m256i n, __m256i a) { return FloorDivide(n, AsFloat(a)); }
struct ColorDodge32 {
  static __m256i F(__m256i s, __m256i d) {
    return _mm256_min_epi32(Lanes32(255), ExactQuotient(_mm256_slli_epi32(d, 8), _mm256_sub_epi32(Lanes32(256), s)));
  }
};
struct ColorBurn32 {
  static __m256i F(__m256i s, __m256i d) {
    const __m256i m = ExactQuotient(_mm256_slli_epi32(_mm256_sub_epi32(Lanes32(255), d), 8), _mm256_add_epi32(s, Lanes32(1)));
    return _mm256_sub_epi32(Lanes32(255), _mm256_min_epi32(Lanes32(255), m));
  }
};

template <typename Blend>
struct Blended32 {
  static __m256i Value(__m256i s, __m256i d, __m256i e) {
    const __m256i v = Blend::F(s, d);
    return Div255x32(_mm256_add_epi32(_mm256_mullo_epi32(d, _mm256_sub_epi32(Lanes32(255), e)), _mm256_mullo_epi32(v, e)));
  }
};
struct Added32 {
  static __m256i Value(__m256i s, __m256i d, __m256i e) {
    return _mm256_min_epi32(Lanes32(255), _mm256_add_epi32(d, Div255x32(_mm256_mullo_epi32(s, e))));
  }
};

// Over an opaque destination A is at least 65 025, so w reaches 255 and the
// alpha Div255(A) is 255: the compositing form writes its preserving form's
// words. Where that form has a cheaper loop, eight opaque destinations take it.
template <typename ValueRule>
struct OverOpaqueDestination {
  static constexpr bool kHas = false;
  static __m256i Pixels(__m256i s, __m256i, __m256i) { return s; }
};
template <>
struct OverOpaqueDestination<Added32> {
  static constexpr bool kHas = true;
  static __m256i Pixels(__m256i s, __m256i d, __m256i opacity) { return AddedPixels<false>(s, d, opacity); }
};
// A blend with a 16-bit form (named Preserving) runs that form.
template <typename Blend>
struct OverOpaqueDestination<Blended32<Blend>> {
  static constexpr bool kHas = requires { typename Blend::Preserving; };
  static __m256i Pixels(__m256i s, __m256i d, __m256i opacity) {
    if constexpr (kHas) {
      return PreservingPixels<Blended<typename Blend::Preserving>>(s, d, opacity);
    } else {
      return s;
    }
  }
};

template <typename ValueRule>
void CompositingRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination,
                    std::int32_t count) {
  const __m256i opacity = Lanes32(context.opacity);
  const __m256i opacity16 = _mm256_set1_epi16(static_cast<short>(context.opacity));
  const __m256i full = Lanes32(255);
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i s = Load(source + i);
    const __m256i sourceAlpha = _mm256_srli_epi32(s, 24);
    const __m256i transparentSource = _mm256_cmpeq_epi32(sourceAlpha, _mm256_setzero_si256());
    if (AllLanes(transparentSource)) continue;
    const __m256i d = Load(destination + i);
    const __m256i destinationAlpha = _mm256_srli_epi32(d, 24);
    if (OverOpaqueDestination<ValueRule>::kHas && AllLanes(_mm256_cmpeq_epi32(destinationAlpha, full))) {
      Store(destination + i, OverOpaqueDestination<ValueRule>::Pixels(s, d, opacity16));
      continue;
    }
    const __m256i p = _mm256_mullo_epi32(sourceAlpha, opacity);
    const __m256i e = Div255x32(p);
    const __m256i transparentDestination = _mm256_cmpeq_epi32(destinationAlpha, _mm256_setzero_si256());
    if (AllLanes(transparentDestination)) {
      Store(destination + i, _mm256_blendv_epi8(SourceWithAlpha(s, e), d, transparentSource));
      continue;
    }
    const __m256i weightW = _mm256_mullo_epi32(_mm256_sub_epi32(full, e), destinationAlpha);
    const __m256i a = _mm256_sub_epi32(_mm256_add_epi32(p, _mm256_mullo_epi32(destinationAlpha, full)),
                                       _mm256_mullo_epi32(e, destinationAlpha));
    const __m256 aFloat = AsFloat(a);
    const __m256i coverage = _mm256_srai_epi32(_mm256_add_epi32(a, Lanes32(510)), 8);
    const __m256i scaled = Div255x32(_mm256_mullo_epi32(destinationAlpha, coverage));
    const __m256i w = _mm256_min_epi32(full, _mm256_blendv_epi8(scaled, coverage, _mm256_cmpeq_epi32(destinationAlpha, full)));
    auto channel = [&](int shift) {
      const __m256i sc = Channel32(s, shift);
      const __m256i dc = Channel32(d, shift);
      const __m256i v = ValueRule::Value(sc, dc, e);
      const __m256i q = FloorDivide(_mm256_add_epi32(_mm256_mullo_epi32(dc, weightW), _mm256_mullo_epi32(sc, p)), aFloat);
      return Div255x32(_mm256_add_epi32(_mm256_mullo_epi32(q, _mm256_sub_epi32(full, w)), _mm256_mullo_epi32(v, w)));
    };
    __m256i out = Pack32(Div255x32(a), channel(16), channel(8), channel(0));
    out = _mm256_blendv_epi8(out, SourceWithAlpha(s, e), transparentDestination);
    Store(destination + i, _mm256_blendv_epi8(out, d, transparentSource));
  }
  FinishWithReference(context, source, destination, i, count);
}

// Preserving dodge and burn: Mix(d, F, e) per colour channel, d's alpha.
template <typename Blend>
void DividingPreservingRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination,
                           std::int32_t count) {
  const __m256i opacity = Lanes32(context.opacity);
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i s = Load(source + i);
    if (AllTransparent(s)) continue;
    const __m256i d = Load(destination + i);
    const __m256i e = Div255x32(_mm256_mullo_epi32(_mm256_srli_epi32(s, 24), opacity));
    auto channel = [&](int shift) { return Blended32<Blend>::Value(Channel32(s, shift), Channel32(d, shift), e); };
    Store(destination + i, Pack32(_mm256_srli_epi32(d, 24), channel(16), channel(8), channel(0)));
  }
  FinishWithReference(context, source, destination, i, count);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

}  // namespace

void FillAvx2BlendRows(RowFunctions& functions) {
  auto set = [&functions](BlendMode mode, RowLoop loop) { functions.blend[static_cast<std::size_t>(mode)] = loop; };
  set(BlendMode::And, OverlapSafe<BitwiseRow<true>>);
  set(BlendMode::Or, OverlapSafe<BitwiseRow<false>>);
  set(BlendMode::Normal, OverlapSafe<PreservingRow<Blended<SourceColour>>>);
  set(BlendMode::KeyedNormal, OverlapSafe<KeyedNormalRow>);
  set(BlendMode::NormalAlpha, OverlapSafe<NormalAlphaRow>);
  set(BlendMode::ColorDodge, OverlapSafe<DividingPreservingRow<ColorDodge32>>);
  set(BlendMode::ColorBurn, OverlapSafe<DividingPreservingRow<ColorBurn32>>);
  set(BlendMode::MultiplyAlpha, OverlapSafe<CompositingRow<Blended32<Multiply32>>>);
  set(BlendMode::AddAlpha, OverlapSafe<CompositingRow<Added32>>);
  set(BlendMode::OverlayAlpha, OverlapSafe<CompositingRow<Blended32<Overlay32>>>);
  set(BlendMode::ScreenAlpha, OverlapSafe<CompositingRow<Blended32<Screen32>>>);
  set(BlendMode::LightenAlpha, OverlapSafe<CompositingRow<Blended32<Lighten32>>>);
  set(BlendMode::DarkenAlpha, OverlapSafe<CompositingRow<Blended32<Darken32>>>);
  set(BlendMode::DifferenceAlpha, OverlapSafe<CompositingRow<Blended32<Difference32>>>);
  set(BlendMode::ColorDodgeAlpha, OverlapSafe<CompositingRow<Blended32<ColorDodge32>>>);
  set(BlendMode::ColorBurnAlpha, OverlapSafe<CompositingRow<Blended32<ColorBurn32>>>);
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
void FillAvx2BlendRows(RowFunctions&) {}
}  // namespace ruta
#endif
