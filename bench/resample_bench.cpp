// Resample beside pixman: the box filter beside pixman's separable box
// convolution, nearest neighbour beside pixman's NEAREST filter, on pictures
// with alpha runs (pixman gets the same pixels premultiplied).

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdlib>

#include "bench_pictures.h"
#include "raster/resample.h"

namespace {

struct ScaleCase {
  int sourceWidth, sourceHeight, width, height;
};

// Box: 1024² -> 256², 300 x 400 -> 192 x 256, 2000² -> 10²; nearest: 256² -> 1024².
constexpr ScaleCase kCases[] = {{1024, 1024, 256, 256}, {300, 400, 192, 256}, {2000, 2000, 10, 10}, {256, 256, 1024, 1024}};

const ScaleCase& CaseOf(const benchmark::State& state) { return kCases[static_cast<std::size_t>(state.range(0))]; }

void SetLabel(benchmark::State& state, const ScaleCase& scale) {
  state.SetLabel(std::to_string(scale.sourceWidth) + "x" + std::to_string(scale.sourceHeight) + " -> " +
                 std::to_string(scale.width) + "x" + std::to_string(scale.height));
  state.SetItemsProcessed(state.iterations() * scale.width * scale.height);
}

void BM_Resample(benchmark::State& state) {
  const ScaleCase& scale = CaseOf(state);
  const auto pixels = kvd::bench::AlphaRunPixels(static_cast<std::size_t>(scale.sourceWidth * scale.sourceHeight), 3);
  ruta::CImage32 source;
  ruta::CImage32 destination;
  if (!source.Resize(scale.sourceWidth, scale.sourceHeight) || !destination.Resize(scale.width, scale.height)) {
    state.SkipWithError("out of memory");
    return;
  }
  std::copy(pixels.begin(), pixels.end(), source.pixels);
  for (auto _ : state) {
    ruta::Resample(destination, source, scale.width, scale.height);
    benchmark::DoNotOptimize(destination.pixels);
    benchmark::ClobberMemory();
  }
  SetLabel(state, scale);
}

// The filter pixman offers for each of our methods: separable box
// convolution (box reconstruction and sampling) for reductions, NEAREST for
// enlargements of two times or more.
void BM_PixmanResample(benchmark::State& state) {
  const ScaleCase& scale = CaseOf(state);
  auto pixels = kvd::bench::Premultiplied(
      kvd::bench::AlphaRunPixels(static_cast<std::size_t>(scale.sourceWidth * scale.sourceHeight), 3));
  kvd::bench::Pixels out(static_cast<std::size_t>(scale.width * scale.height));
  pixman_image_t* source = pixman_image_create_bits(PIXMAN_a8r8g8b8, scale.sourceWidth, scale.sourceHeight,
                                                    pixels.data(), scale.sourceWidth * 4);
  pixman_image_t* destination =
      pixman_image_create_bits(PIXMAN_a8r8g8b8, scale.width, scale.height, out.data(), scale.width * 4);
  const double sx = static_cast<double>(scale.sourceWidth) / scale.width;
  const double sy = static_cast<double>(scale.sourceHeight) / scale.height;
  pixman_transform_t transform;
  pixman_transform_init_scale(&transform, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy));
  pixman_image_set_transform(source, &transform);
  if (sx <= 0.5 || sy <= 0.5) {
    pixman_image_set_filter(source, PIXMAN_FILTER_NEAREST, nullptr, 0);
  } else {
    int count = 0;
    pixman_fixed_t* parameters = pixman_filter_create_separable_convolution(
        &count, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy), PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX,
        PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 1, 1);
    pixman_image_set_filter(source, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, parameters, count);
    std::free(parameters);
  }
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, source, nullptr, destination, 0, 0, 0, 0, 0, 0, scale.width,
                             scale.height);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  pixman_image_unref(source);
  pixman_image_unref(destination);
  SetLabel(state, scale);
}

BENCHMARK(BM_Resample)->DenseRange(0, 3)->ArgName("case")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PixmanResample)->DenseRange(0, 3)->ArgName("case")->Unit(benchmark::kMicrosecond);

}  // namespace
