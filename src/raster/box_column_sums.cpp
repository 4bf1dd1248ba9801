#include "raster/box_column_sums.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ruta {
namespace {

// The rows of a destination row's box, sorted by weight: the fully covered
// ones form one run; only its first and last row can be covered partly, and
// those are weighed one by one.
struct RowClasses {
  std::int32_t fullFirst = 0;
  std::int32_t fullCount = 0;        // fully covered rows, stored or not
  std::int32_t fullStoredCount = 0;  // of them, the rows the picture holds
  std::int32_t partial[2] = {0, 0};
  std::int32_t partialWeight[2] = {0, 0};
  std::int32_t partialCount = 0;
};

RowClasses ClassifyRows(const Span& rows, std::int32_t storedRows) {
  RowClasses classes;
  for (std::int32_t k = rows.first; k <= rows.last; ++k) {
    const std::int32_t v = CoverageWeight(rows, k);
    if (v == kFullWeight) {
      if (classes.fullCount == 0) classes.fullFirst = k;
      ++classes.fullCount;
    } else if (v != 0 && classes.partialCount < 2) {
      classes.partial[classes.partialCount] = k;
      classes.partialWeight[classes.partialCount] = v;
      ++classes.partialCount;
    }
  }
  const std::int32_t storedEnd = std::min(classes.fullFirst + classes.fullCount, storedRows);
  classes.fullStoredCount = std::max(0, storedEnd - classes.fullFirst);
  return classes;
}

struct Sums {
  std::int64_t blue = 0;
  std::int64_t green = 0;
  std::int64_t red = 0;
  std::int64_t weight = 0;
  std::int64_t total = 0;

  void AddPixel(ArgbPixel t, std::int32_t coverage) {
    const std::int32_t w = (AlphaOf(t) * coverage) / kFullWeight;
    weight += w;
    blue += static_cast<std::int64_t>(BlueOf(t)) * w;
    green += static_cast<std::int64_t>(GreenOf(t)) * w;
    red += static_cast<std::int64_t>(RedOf(t)) * w;
  }

  void AddColumn(const ColumnSums& column) {
    weight += column.alpha;
    blue += column.blue;
    green += column.green;
    red += column.red;
  }

  ArgbPixel Average() const {
    if (weight == 0) return 0;
    return MakeArgb(static_cast<std::int32_t>((weight * kFullWeight) / total), static_cast<std::int32_t>(red / weight),
                    static_cast<std::int32_t>(green / weight), static_cast<std::int32_t>(blue / weight));
  }
};

// A pixel in a fully covered row and a column of weight u has coverage
// (u x 255) / 255 = u; with u = 255 its weight (a x 255) / 255 is a itself.
ArgbPixel BoxAverage(const SourcePicture& source, const RowClasses& rowClasses, const Span& columns,
                     const ColumnSums* columnSums) {
  Sums sums;
  const std::int32_t fullStoredEnd = rowClasses.fullFirst + rowClasses.fullStoredCount;
  for (std::int32_t l = columns.first; l <= columns.last; ++l) {
    const std::int32_t u = CoverageWeight(columns, l);
    if (u == 0) continue;
    sums.total += static_cast<std::int64_t>(rowClasses.fullCount) * u;
    if (l >= source.width || rowClasses.fullStoredCount == 0) continue;
    if (u == kFullWeight) {
      sums.AddColumn(columnSums[l]);
    } else {
      for (std::int32_t k = rowClasses.fullFirst; k < fullStoredEnd; ++k) sums.AddPixel(source.Row(k)[l], u);
    }
  }
  for (std::int32_t i = 0; i < rowClasses.partialCount; ++i) {
    const std::int32_t k = rowClasses.partial[i];
    const std::int32_t v = rowClasses.partialWeight[i];
    for (std::int32_t l = columns.first; l <= columns.last; ++l) {
      const std::int32_t c = (CoverageWeight(columns, l) * v) / kFullWeight;
      sums.total += c;
      if (c != 0 && source.Holds(l, k)) sums.AddPixel(source.Row(k)[l], c);
    }
  }
  return sums.Average();
}

}  // namespace

void BoxRowByColumnSums(const BoxRowJob& job, ColumnSumKernel kernel) {
  // Boxes wholly below the held rows weigh no alpha: transparent black.
  if (job.rows.first >= job.source.storedRows) {
    std::fill(job.out, job.out + job.count, ArgbPixel{0});
    return;
  }
  const RowClasses rowClasses = ClassifyRows(job.rows, job.source.storedRows);
  if (job.scratch == nullptr || rowClasses.fullStoredCount > kMaxColumnSumRows) {
    ReferenceBoxRow(job);
    return;
  }
  // The columns any box of this row reaches inside the picture.
  const std::int32_t firstColumn = job.columns[0].first;
  const std::int32_t endColumn = std::min(job.source.width, job.columns[job.count - 1].last + 1);
  if (rowClasses.fullStoredCount > 0 && endColumn > firstColumn) {
    const auto width = static_cast<std::size_t>(endColumn - firstColumn);
    std::memset(static_cast<void*>(job.scratch + firstColumn), 0, width * sizeof(ColumnSums));
    for (std::int32_t k = 0; k < rowClasses.fullStoredCount; ++k) {
      kernel(job.source.Row(rowClasses.fullFirst + k) + firstColumn, endColumn - firstColumn,
             job.scratch + firstColumn);
    }
  }
  for (std::int32_t dx = 0; dx < job.count; ++dx) {
    job.out[dx] = BoxAverage(job.source, rowClasses, job.columns[dx], job.scratch);
  }
}

void PlainColumnSumKernel(const ArgbPixel* row, std::int32_t count, ColumnSums* sums) {
  for (std::int32_t i = 0; i < count; ++i) {
    const ArgbPixel t = row[i];
    const auto a = static_cast<std::uint32_t>(AlphaOf(t));
    sums[i].blue += static_cast<std::uint32_t>(BlueOf(t)) * a;
    sums[i].green += static_cast<std::uint32_t>(GreenOf(t)) * a;
    sums[i].red += static_cast<std::uint32_t>(RedOf(t)) * a;
    sums[i].alpha += a;
  }
}

#if defined(__SSE2__)
// Two pixels per step: their bytes widened to 16-bit lanes (B, G, R, A),
// multiplied by (A, A, A, 1) (at most 65 025, so the low 16 bits are the
// whole product), widened again and added to two columns' sums.
void Sse2ColumnSumKernel(const ArgbPixel* row, std::int32_t count, ColumnSums* sums) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i alphaLaneToOne = _mm_set_epi16(1, 0, 0, 0, 1, 0, 0, 0);
  const __m128i keepColour = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
  std::int32_t i = 0;
  for (; i + 2 <= count; i += 2) {
    const __m128i pixels = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + i)), zero);
    __m128i alphas = _mm_shufflehi_epi16(_mm_shufflelo_epi16(pixels, 0xFF), 0xFF);
    alphas = _mm_or_si128(_mm_and_si128(alphas, keepColour), alphaLaneToOne);
    const __m128i products = _mm_mullo_epi16(pixels, alphas);
    auto* out = reinterpret_cast<__m128i*>(sums + i);
    _mm_storeu_si128(out, _mm_add_epi32(_mm_loadu_si128(out), _mm_unpacklo_epi16(products, zero)));
    _mm_storeu_si128(out + 1, _mm_add_epi32(_mm_loadu_si128(out + 1), _mm_unpackhi_epi16(products, zero)));
  }
  PlainColumnSumKernel(row + i, count - i, sums + i);
}
#else
void Sse2ColumnSumKernel(const ArgbPixel* row, std::int32_t count, ColumnSums* sums) {
  PlainColumnSumKernel(row, count, sums);
}
#endif

}  // namespace ruta
