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

}  // namespace

void Avx2BoxRow(const BoxRowJob& job) { BoxRowByColumnSums(job, Avx2ColumnSumKernel); }

}  // namespace ruta
#endif
