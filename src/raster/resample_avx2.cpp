// AVX2 row functions of the resampler. The file is built for any x86-64; only
// the functions marked for AVX2 use it, and they run only where the processor
// has it.

#include "raster/resample_avx2.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include "raster/box_column_sums.h"

namespace ruta {
namespace {

// Four pixels per step, as the SSE2 kernel does two.
__attribute__((target("avx2"))) void Avx2ColumnSumKernel(const ArgbPixel* row, std::int32_t count,
                                                         ColumnSums* sums) {
  const __m256i alphaLaneToOne = _mm256_set_epi16(1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0);
  const __m256i keepColour = _mm256_set_epi16(0, -1, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m256i pixels = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i)));
    __m256i alphas = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(pixels, 0xFF), 0xFF);
    alphas = _mm256_or_si256(_mm256_and_si256(alphas, keepColour), alphaLaneToOne);
    const __m256i products = _mm256_mullo_epi16(pixels, alphas);
    auto* out = reinterpret_cast<__m256i*>(sums + i);
    const __m256i low = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(products));
    const __m256i high = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(products, 1));
    _mm256_storeu_si256(out, _mm256_add_epi32(_mm256_loadu_si256(out), low));
    _mm256_storeu_si256(out + 1, _mm256_add_epi32(_mm256_loadu_si256(out + 1), high));
  }
  Sse2ColumnSumKernel(row + i, count - i, sums + i);
}

// ---- Small boxes, eight destination pixels at a time ----
//
// Where every box spans at most four source columns and four source rows (a
// reduction by less than three times), the column sums cost more than they
// save: each box is a few cells, most of them on its edges. Eight boxes then
// go side by side, one per 32-bit lane, cell by cell. The reference weighs
// every cell alike: its coverage c = (u x v) / 255 from its column and row
// weights (which gives 255 inside the box and u in a fully covered row), its
// weight w = (a x c) / 255 (a itself where c = 255); cells past the picture's
// width or below its held rows add c to the total but no colour. A box of at
// most 16 cells keeps every sum below 16 x 65 025 < 2^24 and its total below
// 16 x 255 < 2^17, where the truncated float division of the blend loops is
// exact (see blend_avx2.cpp): quotients below 2^8 with divisors below 2^17.

constexpr std::int32_t kSmallBoxSide = 4;
constexpr int kBoxLanes = 8;

bool BoxesAreSmall(const BoxRowJob& job) {
  if (job.rows.last - job.rows.first >= kSmallBoxSide) return false;
  for (std::int32_t dx = 0; dx < job.count; ++dx) {
    if (job.columns[dx].last - job.columns[dx].first >= kSmallBoxSide) return false;
  }
  return true;
}

struct BoxLaneSums {
  __m256i blue, green, red, weight, total;
};

__attribute__((target("avx2"))) inline __m256i Lanes(int value) { return _mm256_set1_epi32(value); }

// floor(x / 255) for 0 <= x <= 65 534 in 32-bit lanes, by the 16-bit
// multiply-high of the blend loops: the upper half of each lane stays 0.
__attribute__((target("avx2"))) inline __m256i Divide255(__m256i x) {
  return _mm256_mulhi_epu16(_mm256_add_epi16(x, _mm256_set1_epi16(1)), _mm256_set1_epi16(257));
}

// Products of two values below 256 in 32-bit lanes, by a 16-bit multiply.
__attribute__((target("avx2"))) inline __m256i Times(__m256i a, __m256i b) { return _mm256_mullo_epi16(a, b); }

__attribute__((target("avx2"))) inline __m256i Quotient(__m256i numerator, __m256 divisor) {
  return _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(numerator), divisor));
}

__attribute__((target("avx2"))) void SmallBoxes(const BoxRowJob& job, const Span* columns, ArgbPixel* out) {
  // Each lane's span: first, last, and the two fractions.
  const __m256i spanIndex = _mm256_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28);
  const auto* spanWords = reinterpret_cast<const int*>(columns);
  const __m256i first = _mm256_i32gather_epi32(spanWords, spanIndex, 4);
  const __m256i last = _mm256_i32gather_epi32(spanWords + 1, spanIndex, 4);
  const __m256i firstFraction = _mm256_i32gather_epi32(spanWords + 2, spanIndex, 4);
  const __m256i lastFraction = _mm256_i32gather_epi32(spanWords + 3, spanIndex, 4);
  const __m256i width = Lanes(job.source.width);
  const __m256i full = Lanes(kFullWeight);
  BoxLaneSums sums{};
  for (std::int32_t j = 0; j < kSmallBoxSide; ++j) {
    // CoverageWeight of column first + j, and 0 past the box.
    const __m256i column = _mm256_add_epi32(first, Lanes(j));
    __m256i u = j == 0 ? _mm256_sub_epi32(full, firstFraction) : full;
    const __m256i isLast = _mm256_cmpeq_epi32(column, last);
    u = _mm256_blendv_epi8(u, _mm256_sub_epi32(_mm256_add_epi32(u, lastFraction), full), isLast);
    u = _mm256_andnot_si256(_mm256_cmpgt_epi32(column, last), u);
    const __m256i inside = _mm256_cmpgt_epi32(width, column);
    const __m256i safeColumn = _mm256_and_si256(column, inside);
    for (std::int32_t k = job.rows.first; k <= job.rows.last; ++k) {
      const std::int32_t v = CoverageWeight(job.rows, k);
      if (v == 0) continue;
      const __m256i c = Divide255(Times(u, Lanes(v)));
      sums.total = _mm256_add_epi32(sums.total, c);
      if (k >= job.source.storedRows) continue;
      const auto* row = reinterpret_cast<const int*>(job.source.Row(k));
      const __m256i pixels = _mm256_and_si256(_mm256_i32gather_epi32(row, safeColumn, 4), inside);
      const __m256i w = Divide255(Times(_mm256_srli_epi32(pixels, 24), c));
      const __m256i channel = Lanes(255);
      sums.weight = _mm256_add_epi32(sums.weight, w);
      sums.blue = _mm256_add_epi32(sums.blue, Times(_mm256_and_si256(pixels, channel), w));
      sums.green = _mm256_add_epi32(sums.green, Times(_mm256_and_si256(_mm256_srli_epi32(pixels, 8), channel), w));
      sums.red = _mm256_add_epi32(sums.red, Times(_mm256_and_si256(_mm256_srli_epi32(pixels, 16), channel), w));
    }
  }
  // Without any alpha weight a box lends no colour at all.
  const __m256 weight = _mm256_cvtepi32_ps(sums.weight);
  const __m256i alpha = Quotient(_mm256_mullo_epi32(sums.weight, full), _mm256_cvtepi32_ps(sums.total));
  __m256i pixel = _mm256_or_si256(_mm256_slli_epi32(alpha, 24), _mm256_slli_epi32(Quotient(sums.red, weight), 16));
  pixel = _mm256_or_si256(pixel, _mm256_or_si256(_mm256_slli_epi32(Quotient(sums.green, weight), 8),
                                                  Quotient(sums.blue, weight)));
  pixel = _mm256_andnot_si256(_mm256_cmpeq_epi32(sums.weight, _mm256_setzero_si256()), pixel);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), pixel);
}

}  // namespace

void Avx2BoxRow(const BoxRowJob& job) {
  if (!BoxesAreSmall(job)) {
    BoxRowByColumnSums(job, Avx2ColumnSumKernel);
    return;
  }
  std::int32_t dx = 0;
  for (; dx + kBoxLanes <= job.count; dx += kBoxLanes) SmallBoxes(job, job.columns + dx, job.out + dx);
  if (dx < job.count) {
    BoxRowJob rest = job;
    rest.columns += dx;
    rest.out += dx;
    rest.count -= dx;
    ReferenceBoxRow(rest);
  }
}

}  // namespace ruta
#endif
