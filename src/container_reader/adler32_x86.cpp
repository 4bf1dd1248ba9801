// The vector Adler-32 loops. Over a run of n bytes that starts from the sums
// a and b, b grows by n a + sum over the bytes of (n - i) x[i]: each block of
// the run adds its own bytes weighted by their distance from the block's end
// (one multiply-add per byte pair), and the block size times the bytes before
// the block (summed once per block, multiplied once per run). A run is at
// most kAdlerRun bytes, so that every lane, a part of b's growth, fits in 32
// bits; both sums are reduced after each run, as the plain loop does.

#include "container_reader/adler32_kernels.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include <algorithm>

namespace kvd {
namespace {

std::uint32_t LaneSum(__m128i lanes) {
  lanes = _mm_add_epi32(lanes, _mm_shuffle_epi32(lanes, 0x4E));
  lanes = _mm_add_epi32(lanes, _mm_shuffle_epi32(lanes, 0xB1));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(lanes));
}

// What one run added to the sums, lane by lane.
struct RunSums {
  std::uint32_t bytes;        // the run's bytes
  std::uint32_t bytesBefore;  // for each block, the run's bytes before it
  std::uint32_t weighted;     // each byte times its distance from its block's end
};

// Sums one run, a whole number of blocks.
using RunKernel = RunSums (*)(std::span<const std::uint8_t> run);

// Always inlined: a 256-bit value passed to a call goes through the stack,
// which 64-bit Windows aligns to 16 bytes only.
__attribute__((target("avx2"), always_inline)) inline __m128i Halves(__m256i lanes) {
  return _mm_add_epi32(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1));
}

constexpr std::size_t kSse2Block = 16;
constexpr std::size_t kAvx2Block = 32;

RunSums Sse2Run(std::span<const std::uint8_t> run) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lowWeights = _mm_set_epi16(9, 10, 11, 12, 13, 14, 15, 16);
  const __m128i highWeights = _mm_set_epi16(1, 2, 3, 4, 5, 6, 7, 8);
  __m128i sums = zero;
  __m128i sumsBefore = zero;
  __m128i weighted = zero;
  for (std::size_t i = 0; i < run.size(); i += kSse2Block) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run.data() + i));
    sumsBefore = _mm_add_epi32(sumsBefore, sums);
    sums = _mm_add_epi32(sums, _mm_sad_epu8(block, zero));
    weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(block, zero), lowWeights));
    weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(block, zero), highWeights));
  }
  return {LaneSum(sums), LaneSum(sumsBefore), LaneSum(weighted)};
}

__attribute__((target("avx2"))) RunSums Avx2Run(std::span<const std::uint8_t> run) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i weights = _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14,
                                           13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  const __m256i ones = _mm256_set1_epi16(1);
  __m256i sums = zero;
  __m256i sumsBefore = zero;
  __m256i weighted = zero;
  for (std::size_t i = 0; i < run.size(); i += kAvx2Block) {
    const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(run.data() + i));
    sumsBefore = _mm256_add_epi32(sumsBefore, sums);
    sums = _mm256_add_epi32(sums, _mm256_sad_epu8(block, zero));
    // Byte pairs times their weights (at most 255 x 63), then the pairs' sums in 32 bits.
    weighted = _mm256_add_epi32(weighted, _mm256_madd_epi16(_mm256_maddubs_epi16(block, weights), ones));
  }
  return {LaneSum(Halves(sums)), LaneSum(Halves(sumsBefore)), LaneSum(Halves(weighted))};
}

// Whole runs of whole blocks through the kernel, the rest through the plain loop.
std::uint32_t Adler32ByRuns(std::uint32_t adler, std::span<const std::uint8_t> bytes, std::size_t block,
                            RunKernel kernel) {
  while (bytes.size() >= block) {
    const std::size_t run = std::min(bytes.size(), kAdlerRun) / block * block;
    const RunSums sums = kernel(bytes.first(run));
    const std::uint64_t a = adler & 0xFFFF;
    const std::uint64_t b = (adler >> 16) + run * a + block * sums.bytesBefore + sums.weighted;
    adler = static_cast<std::uint32_t>(((b % kAdlerBase) << 16) | ((a + sums.bytes) % kAdlerBase));
    bytes = bytes.subspan(run);
  }
  return ReferenceAdler32(adler, bytes);
}

}  // namespace

std::uint32_t Sse2Adler32(std::uint32_t adler, std::span<const std::uint8_t> bytes) {
  return Adler32ByRuns(adler, bytes, kSse2Block, Sse2Run);
}

std::uint32_t Avx2Adler32(std::uint32_t adler, std::span<const std::uint8_t> bytes) {
  return Adler32ByRuns(adler, bytes, kAvx2Block, Avx2Run);
}

}  // namespace kvd

#endif
