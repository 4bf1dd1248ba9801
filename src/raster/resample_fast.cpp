#include "raster/resample_fast.h"

#include <algorithm>
#include <cstring>

#include "raster/box_column_sums.h"

namespace ruta {
namespace {

// How many of the count columns from position 0 on, dx x step, land inside
// a row of sourceWidth pixels.
std::int32_t ColumnsInside(std::int32_t count, std::int32_t sourceWidth, Fixed16 step) {
  if (sourceWidth <= 0) return 0;
  if (step <= 0) return count;
  const Fixed16 end = static_cast<Fixed16>(sourceWidth) << 16;
  return static_cast<std::int32_t>(std::min<Fixed16>(count, (end + step - 1) / step));
}

}  // namespace

void Sse2BoxRow(const BoxRowJob& job) { BoxRowByColumnSums(job, Sse2ColumnSumKernel); }

void UncheckedNearestRow(const NearestRowJob& job) {
  const std::int32_t inside = job.sourceRow == nullptr ? 0 : ColumnsInside(job.count, job.sourceWidth, job.step);
  Fixed16 x0 = 0;
  for (std::int32_t dx = 0; dx < inside; ++dx, x0 += job.step) job.out[dx] = job.sourceRow[x0 >> 16];
  std::fill(job.out + inside, job.out + job.count, ArgbPixel{0});
}

}  // namespace ruta
