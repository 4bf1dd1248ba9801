// AVX-512 row loops of the modes where the AVX2 loops stay furthest behind a
// premultiplied compositor: Normal (6), Add (7), NormalAlpha (28), and the
// compositing forms of Add, Multiply, Overlay, Screen, Lighten, Darken and
// Difference (29 to 36 but 33).
// Sixteen pixels per vector, with the formulas of blend_avx2.cpp, whose
// comments derive them, and two changes that AVX-512 makes cheap:
// - A product of two values below 256 is formed in 16-bit lanes even where
//   the pixel sits in a 32-bit lane: the lane's upper half is 0 in both
//   factors, so its product is 0, and the lower half holds the whole product
//   (at most 65 025). Div255 by multiply-high works the same way. No 32-bit
//   multiply is left.
// - The numerator n < 2^24 of the exact quotient floor(n / A) is formed in
//   single precision, exactly, by one fused multiply-add; the quotient is
//   then the truncated float division of blend_avx2.cpp, which needs no
//   correcting step.
// The file is built for any x86-64; the functions between the target pragmas
// run only where the processor has AVX-512 F and BW.

#include "raster/blend_avx512.h"

#if defined(__x86_64__)
// GCC 12's AVX-512 headers build their "undefined" vectors by initialising
// a variable with itself, which its own maybe-uninitialized check then flags
// wherever they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

namespace ruta {
namespace {

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw")
#endif

constexpr int kPixels = 16;
constexpr __mmask16 kAllPixels = 0xFFFF;

inline __m512i Load(const ArgbPixel* p) { return _mm512_loadu_si512(p); }
inline void Store(ArgbPixel* p, __m512i v) { _mm512_storeu_si512(p, v); }

inline __m512i Lanes16(int value) { return _mm512_set1_epi16(static_cast<short>(value)); }
inline __m512i Lanes32(std::uint32_t value) { return _mm512_set1_epi32(static_cast<int>(value)); }

// Div255(x) = ((x + 1) x 257) >> 16 for 0 <= x <= 65 534.
inline __m512i Div255(__m512i x) { return _mm512_mulhi_epu16(_mm512_add_epi16(x, Lanes16(1)), Lanes16(257)); }
inline __m512i Product(__m512i a, __m512i b) { return _mm512_mullo_epi16(a, b); }
inline __m512i Complement16(__m512i x) { return _mm512_sub_epi16(Lanes16(255), x); }
inline __m512i Complement32(__m512i x) { return _mm512_sub_epi32(Lanes32(255), x); }

inline __m512i AlphaLanes(__m512i pixels) { return _mm512_srli_epi32(pixels, 24); }
inline __mmask16 Equal(__m512i a, std::uint32_t value) { return _mm512_cmpeq_epi32_mask(a, Lanes32(value)); }

// The colour of `colour` with the alpha of `alpha`.
inline __m512i WithAlphaOf(__m512i colour, __m512i alpha) {
  constexpr __mmask64 kAlphaBytes = 0x8888888888888888ull;
  return _mm512_mask_mov_epi8(colour, kAlphaBytes, alpha);
}

// ---- Four channels of a pixel in 16-bit lanes ----

inline __m512i WidenLow(__m512i pixels) { return _mm512_unpacklo_epi8(pixels, _mm512_setzero_si512()); }
inline __m512i WidenHigh(__m512i pixels) { return _mm512_unpackhi_epi8(pixels, _mm512_setzero_si512()); }
inline __m512i SpreadAlpha(__m512i lanes) { return _mm512_shufflehi_epi16(_mm512_shufflelo_epi16(lanes, 0xFF), 0xFF); }

// Normal: Mix(d.c, s.c, e) per colour channel with e = Div255(s.A x op),
// d's alpha; over an opaque destination also NormalAlpha's words. At full
// opacity e is s.A itself.
template <bool kFullOpacity = false>
inline __m512i NormalPixels(__m512i source, __m512i destination, __m512i opacity) {
  auto mix = [opacity](__m512i s, __m512i d) {
    const __m512i e = kFullOpacity ? SpreadAlpha(s) : Div255(Product(SpreadAlpha(s), opacity));
    return Div255(_mm512_add_epi16(Product(d, Complement16(e)), Product(s, e)));
  };
  const __m512i colour = _mm512_packus_epi16(mix(WidenLow(source), WidenLow(destination)),
                                             mix(WidenHigh(source), WidenHigh(destination)));
  return WithAlphaOf(colour, destination);
}

// Add: d.c + Div255(s.c x e), saturating, d's alpha. Blue and red are weighed
// in the 16-bit halves of each pixel, green in the lower half alone.
template <bool kFullOpacity>
inline __m512i AddedPixels(__m512i s, __m512i d, __m512i opacity) {
  const __m512i alphaInHalves =
      _mm512_broadcast_i32x4(_mm_setr_epi8(3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1));
  __m512i e = _mm512_shuffle_epi8(s, alphaInHalves);
  if (!kFullOpacity) e = Div255(Product(e, opacity));
  const __m512i blueRed = Div255(Product(_mm512_and_si512(s, Lanes16(0x00FF)), e));
  const __m512i green = Div255(Product(_mm512_and_si512(_mm512_srli_epi32(s, 8), Lanes32(0xFF)), e));
  return _mm512_adds_epu8(d, _mm512_or_si512(blueRed, _mm512_slli_epi32(green, 8)));
}

// ---- One pixel per 32-bit lane ----

inline __m512i Channel(__m512i pixels, unsigned shift) { return _mm512_and_si512(_mm512_srli_epi32(pixels, shift), Lanes32(255)); }
inline __m512 AsFloat(__m512i lanes) { return _mm512_cvtepi32_ps(lanes); }

inline __m512i Pack(__m512i alpha, __m512i red, __m512i green, __m512i blue) {
  constexpr int kOrOfAll = 0xFE;
  return _mm512_ternarylogic_epi32(_mm512_slli_epi32(alpha, 24), _mm512_slli_epi32(red, 16),
                                   _mm512_or_si512(_mm512_slli_epi32(green, 8), blue), kOrOfAll);
}

// The source colour with alpha e: what a transparent destination becomes.
inline __m512i SourceWithAlpha(__m512i s, __m512i e) { return WithAlphaOf(s, _mm512_slli_epi32(e, 24)); }

// A group over only transparent destinations takes the source at the opacity
// where the source is not transparent; no division is needed.
inline void StoreOverTransparent(ArgbPixel* destination, __m512i s, __m512i sourceAlpha, __m512i opacity,
                                 __mmask16 transparentSource) {
  _mm512_mask_storeu_epi32(destination, static_cast<__mmask16>(~transparentSource),
                           SourceWithAlpha(s, Div255(Product(sourceAlpha, opacity))));
}

// Source over a destination with alpha: P = s.A x op, e = Div255(P),
// W = (255 - e) x d.A, A = P + W, and floor((d.c x W + s.c x P) / A).
struct SourceOverLanes {
  __m512i p, e, w, a;
  __m512 pf, wf, af;

  SourceOverLanes(__m512i sourceAlpha, __m512i destinationAlpha, __m512i opacity)
      : p(Product(sourceAlpha, opacity)),
        e(Div255(p)),
        w(Product(Complement32(e), destinationAlpha)),
        a(_mm512_add_epi32(p, w)),
        pf(AsFloat(p)),
        wf(AsFloat(w)),
        af(AsFloat(a)) {}

  __m512i Channel(__m512i sc, __m512i dc) const {
    const __m512 n = _mm512_fmadd_ps(AsFloat(dc), wf, _mm512_mul_ps(AsFloat(sc), pf));
    return _mm512_cvttps_epi32(_mm512_div_ps(n, af));
  }
};

// Normal. At full opacity a group of only opaque and transparent sources
// takes the opaque ones' colours without arithmetic.
template <bool kFullOpacity>
void NormalRowAt(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  const __m512i opacity = Lanes16(context.opacity);
  const __m512i alphaBits = Lanes32(0xFF000000u);
  std::int32_t i = 0;
  for (; i + kPixels <= count; i += kPixels) {
    const __m512i s = Load(source + i);
    const __mmask16 visible = _mm512_test_epi32_mask(s, alphaBits);
    if (visible == 0) continue;
    const __m512i d = Load(destination + i);
    if (kFullOpacity && _mm512_cmpeq_epi32_mask(_mm512_and_si512(s, alphaBits), alphaBits) == visible) {
      Store(destination + i, WithAlphaOf(_mm512_mask_mov_epi32(d, visible, s), d));
      continue;
    }
    Store(destination + i, NormalPixels<kFullOpacity>(s, d, opacity));
  }
  FinishWithReference(context, source, destination, i, count);
}

void NormalRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  if (context.opacity == 255) {
    NormalRowAt<true>(context, source, destination, count);
  } else {
    NormalRowAt<false>(context, source, destination, count);
  }
}

template <bool kFullOpacity>
void AddRowAt(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination, std::int32_t count) {
  const __m512i opacity = Lanes16(context.opacity);
  std::int32_t i = 0;
  for (; i + kPixels <= count; i += kPixels) {
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

void NormalAlphaRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination,
                    std::int32_t count) {
  const __m512i opacity16 = Lanes16(context.opacity);
  const __m512i opacity32 = Lanes32(context.opacity);
  const bool fullOpacity = context.opacity == 255;
  std::int32_t i = 0;
  for (; i + kPixels <= count; i += kPixels) {
    const __m512i s = Load(source + i);
    const __m512i sourceAlpha = AlphaLanes(s);
    const __mmask16 transparentSource = Equal(sourceAlpha, 0);
    if (transparentSource == kAllPixels) continue;
    // At full opacity an opaque source replaces its pixel whatever lies
    // there, so a group of transparent and opaque sources alone, as where a
    // stroke's edge crosses it, needs no arithmetic.
    const __mmask16 opaqueSource = fullOpacity ? Equal(sourceAlpha, 255) : 0;
    if ((opaqueSource | transparentSource) == kAllPixels) {
      _mm512_mask_storeu_epi32(destination + i, opaqueSource, s);
      continue;
    }
    const __m512i d = Load(destination + i);
    const __m512i destinationAlpha = AlphaLanes(d);
    const __mmask16 transparentDestination = Equal(destinationAlpha, 0);
    if (transparentDestination == kAllPixels) {
      StoreOverTransparent(destination + i, s, sourceAlpha, opacity32, transparentSource);
      continue;
    }
    const __mmask16 opaqueDestination = Equal(destinationAlpha, 255);
    __m512i out;
    if (opaqueDestination == kAllPixels) {
      out = NormalPixels(s, d, opacity16);
    } else {
      const SourceOverLanes over(sourceAlpha, destinationAlpha, opacity32);
      out = Pack(Div255(over.a), over.Channel(Channel(s, 16), Channel(d, 16)),
                 over.Channel(Channel(s, 8), Channel(d, 8)), over.Channel(Channel(s, 0), Channel(d, 0)));
      // Layers are mostly wholly opaque or wholly not: only a group that
      // mixes the two pays for both formulas.
      if (opaqueDestination != 0) out = _mm512_mask_mov_epi32(out, opaqueDestination, NormalPixels(s, d, opacity16));
      out = _mm512_mask_mov_epi32(out, transparentDestination, SourceWithAlpha(s, over.e));
    }
    Store(destination + i, _mm512_mask_mov_epi32(out, transparentSource, d));
  }
  FinishWithReference(context, source, destination, i, count);
}

// ---- The compositing forms ----
//
// A value rule gives the blend value v of one colour channel from the source
// and destination channels and the effective alpha e, and what a group over
// only opaque destinations becomes: there Div255(A) is 255 and the coverage
// weight w reaches 255, where the compositing form writes v with the
// destination's alpha, its preserving form's words; a transparent source has
// e = 0 and leaves its pixel there.

// Add's value: d.c + Div255(s.c x e), at most 255.
struct AddedValue {
  static __m512i Value(__m512i sc, __m512i dc, __m512i e) {
    return _mm512_min_epu32(Lanes32(255), _mm512_add_epi32(dc, Div255(Product(sc, e))));
  }
  static __m512i OverOpaque(__m512i s, __m512i d, __m512i opacity16) { return AddedPixels<false>(s, d, opacity16); }
};

// Blend F mixed into the destination by e: Div255(d.c x (255 - e) + F x e).
// Each product is at most 65 025, as is their sum, so 16-bit products and
// Div255 serve.
template <typename Blend>
struct BlendedValue {
  static __m512i Value(__m512i sc, __m512i dc, __m512i e) {
    return Div255(_mm512_add_epi32(Product(dc, Complement32(e)), Product(Blend::F(sc, dc), e)));
  }
  static __m512i OverOpaque(__m512i s, __m512i d, __m512i opacity16) {
    const __m512i e = Div255(Product(AlphaLanes(s), opacity16));
    auto channel = [&](unsigned shift) { return Value(Channel(s, shift), Channel(d, shift), e); };
    return WithAlphaOf(Pack(Lanes32(0), channel(16), channel(8), channel(0)), d);
  }
};

struct MultiplyBlend {
  static __m512i F(__m512i s, __m512i d) { return Div255(Product(s, d)); }
};
struct ScreenBlend {
  static __m512i F(__m512i s, __m512i d) { return Complement32(Div255(Product(Complement32(s), Complement32(d)))); }
};
// d < 128: Div255(2sd), at most 255 x 254; d >= 128: 255 - Div255((255 - s)(511 - 2d)),
// at most 255 x 255. Each side is formed for every lane, but a lane keeps only
// the side whose bound holds.
struct OverlayBlend {
  static __m512i F(__m512i s, __m512i d) {
    const __m512i twiceD = _mm512_add_epi32(d, d);
    const __m512i lower = Div255(Product(s, twiceD));
    const __m512i upper = Complement32(Div255(Product(Complement32(s), _mm512_sub_epi32(Lanes32(511), twiceD))));
    return _mm512_mask_mov_epi32(upper, _mm512_cmplt_epu32_mask(d, Lanes32(128)), lower);
  }
};
struct LightenBlend {
  static __m512i F(__m512i s, __m512i d) { return _mm512_max_epu32(s, d); }
};
struct DarkenBlend {
  static __m512i F(__m512i s, __m512i d) { return _mm512_min_epu32(s, d); }
};
struct DifferenceBlend {
  static __m512i F(__m512i s, __m512i d) { return _mm512_sub_epi32(_mm512_max_epu32(s, d), _mm512_min_epu32(s, d)); }
};

// The blend value v weighed against the source-over colour q by the coverage
// weight w, capped at 255, where it is v itself.
template <typename ValueRule>
void CompositingRow(const BlendContext& context, const ArgbPixel* source, ArgbPixel* destination,
                    std::int32_t count) {
  const __m512i opacity16 = Lanes16(context.opacity);
  const __m512i opacity32 = Lanes32(context.opacity);
  const __m512i full = Lanes32(255);
  std::int32_t i = 0;
  for (; i + kPixels <= count; i += kPixels) {
    const __m512i s = Load(source + i);
    const __m512i sourceAlpha = AlphaLanes(s);
    const __mmask16 transparentSource = Equal(sourceAlpha, 0);
    if (transparentSource == kAllPixels) continue;
    const __m512i d = Load(destination + i);
    const __m512i destinationAlpha = AlphaLanes(d);
    const __mmask16 transparentDestination = Equal(destinationAlpha, 0);
    if (transparentDestination == kAllPixels) {
      StoreOverTransparent(destination + i, s, sourceAlpha, opacity32, transparentSource);
      continue;
    }
    const __mmask16 opaqueDestination = Equal(destinationAlpha, 255);
    if (opaqueDestination == kAllPixels) {
      Store(destination + i, ValueRule::OverOpaque(s, d, opacity16));
      continue;
    }
    const SourceOverLanes over(sourceAlpha, destinationAlpha, opacity32);
    const __m512i coverage = _mm512_srli_epi32(_mm512_add_epi32(over.a, Lanes32(510)), 8);
    const __m512i scaled = Div255(Product(destinationAlpha, coverage));
    const __m512i w = _mm512_min_epu32(full, _mm512_mask_mov_epi32(scaled, opaqueDestination, coverage));
    const __m512i keep = Complement32(w);
    auto channel = [&](unsigned shift) {
      const __m512i sc = Channel(s, shift);
      const __m512i dc = Channel(d, shift);
      const __m512i v = ValueRule::Value(sc, dc, over.e);
      return Div255(_mm512_add_epi32(Product(over.Channel(sc, dc), keep), Product(v, w)));
    };
    __m512i out = Pack(Div255(over.a), channel(16), channel(8), channel(0));
    out = _mm512_mask_mov_epi32(out, transparentDestination, SourceWithAlpha(s, over.e));
    Store(destination + i, _mm512_mask_mov_epi32(out, transparentSource, d));
  }
  FinishWithReference(context, source, destination, i, count);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#pragma GCC diagnostic pop
#endif

}  // namespace

void FillAvx512BlendRows(RowFunctions& functions) {
  auto set = [&functions](BlendMode mode, RowLoop loop) { functions.blend[static_cast<std::size_t>(mode)] = loop; };
  set(BlendMode::Normal, OverlapSafe<NormalRow>);
  set(BlendMode::Add, OverlapSafe<AddRow>);
  set(BlendMode::NormalAlpha, OverlapSafe<NormalAlphaRow>);
  set(BlendMode::AddAlpha, OverlapSafe<CompositingRow<AddedValue>>);
  set(BlendMode::MultiplyAlpha, OverlapSafe<CompositingRow<BlendedValue<MultiplyBlend>>>);
  set(BlendMode::OverlayAlpha, OverlapSafe<CompositingRow<BlendedValue<OverlayBlend>>>);
  set(BlendMode::ScreenAlpha, OverlapSafe<CompositingRow<BlendedValue<ScreenBlend>>>);
  set(BlendMode::LightenAlpha, OverlapSafe<CompositingRow<BlendedValue<LightenBlend>>>);
  set(BlendMode::DarkenAlpha, OverlapSafe<CompositingRow<BlendedValue<DarkenBlend>>>);
  set(BlendMode::DifferenceAlpha, OverlapSafe<CompositingRow<BlendedValue<DifferenceBlend>>>);
}

}  // namespace ruta

#else
namespace ruta {
void FillAvx512BlendRows(RowFunctions&) {}
}  // namespace ruta
#endif
