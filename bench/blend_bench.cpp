// BlendRow for every mode code beside memcpy and pixman's operators on the
// same rows, over the grid of opacity 255 and 128 by four destinations. Rows hold 4096 pixels whose source alpha comes in runs; a pool of
// 16 rows is rotated so that the branch predictor cannot learn one row. Each
// iteration first restores the destination row (a 16 KiB copy, counted in
// ours and pixman's figures alike), so that every iteration composites onto
// the same destination.

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <array>
#include <cstring>
#include <string>

#include "bench_pictures.h"
#include "raster/blend.h"

namespace {

constexpr int kRowPixels = 4096;
constexpr int kPoolRows = 16;
constexpr std::size_t kRowBytes = kRowPixels * sizeof(std::uint32_t);

struct RowPool {
  std::array<kvd::bench::Pixels, kPoolRows> source;
  std::array<kvd::bench::Pixels, kPoolRows> destination;
};

// The destinations of the grid: every alpha 255, every alpha 0, every alpha
// 128, or alpha in runs like the source's; random colours throughout.
enum Destination { kOpaque, kTransparent, kHalfTransparent, kMixed };

RowPool MakePool(Destination kind, bool premultiplied) {
  RowPool pool;
  for (int i = 0; i < kPoolRows; ++i) {
    auto& source = pool.source[static_cast<std::size_t>(i)];
    auto& destination = pool.destination[static_cast<std::size_t>(i)];
    source = kvd::bench::AlphaRunPixels(kRowPixels, static_cast<std::uint32_t>(100 + i));
    destination = kvd::bench::AlphaRunPixels(kRowPixels, static_cast<std::uint32_t>(200 + i));
    constexpr std::uint32_t kAlphaOf[] = {0xFF000000u, 0, 0x80000000u};
    if (kind != kMixed) {
      for (std::uint32_t& p : destination) p = (p & 0xFFFFFF) | kAlphaOf[kind];
    }
    if (premultiplied) {
      source = kvd::bench::Premultiplied(source);
      destination = kvd::bench::Premultiplied(destination);
    }
  }
  return pool;
}

Destination DestinationOf(const benchmark::State& state) { return static_cast<Destination>(state.range(1)); }

void SetCounters(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kRowPixels);
}

// Arguments: mode code, Destination, opacity.
void BM_BlendRow(benchmark::State& state) {
  const RowPool pool = MakePool(DestinationOf(state), false);
  ruta::BlendContext context;
  context.mode = static_cast<std::int32_t>(state.range(0));
  context.opacity = static_cast<std::uint8_t>(state.range(2));
  kvd::bench::Pixels work(kRowPixels);
  int i = 0;
  for (auto _ : state) {
    const auto row = static_cast<std::size_t>(i++ & (kPoolRows - 1));
    std::memcpy(work.data(), pool.destination[row].data(), kRowBytes);
    ruta::BlendRow(context, pool.source[row].data(), 0, work.data(), 0, kRowPixels);
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}

// Copy needs no restored destination: its figure stands beside plain memcpy.
void BM_Copy(benchmark::State& state) {
  const RowPool pool = MakePool(kOpaque, false);
  const ruta::BlendContext context;
  kvd::bench::Pixels work(kRowPixels);
  int i = 0;
  for (auto _ : state) {
    const auto row = static_cast<std::size_t>(i++ & (kPoolRows - 1));
    ruta::BlendRow(context, pool.source[row].data(), 0, work.data(), 0, kRowPixels);
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}

void BM_Memcpy(benchmark::State& state) {
  const RowPool pool = MakePool(kOpaque, false);
  kvd::bench::Pixels work(kRowPixels);
  int i = 0;
  for (auto _ : state) {
    const auto row = static_cast<std::size_t>(i++ & (kPoolRows - 1));
    std::memcpy(work.data(), pool.source[row].data(), kRowBytes);
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}

pixman_image_t* RowImage(std::uint32_t* pixels) {
  return pixman_image_create_bits(PIXMAN_a8r8g8b8, kRowPixels, 1, pixels, static_cast<int>(kRowBytes));
}

// Arguments: pixman operator, Destination, opacity (a solid mask below 255).
void BM_Pixman(benchmark::State& state) {
  RowPool pool = MakePool(DestinationOf(state), true);
  const auto op = static_cast<pixman_op_t>(state.range(0));
  const auto opacity = static_cast<std::uint16_t>(state.range(2) * 257);
  const pixman_color_t maskColour{0, 0, 0, opacity};
  pixman_image_t* mask = opacity == 0xFFFF ? nullptr : pixman_image_create_solid_fill(&maskColour);
  kvd::bench::Pixels work(kRowPixels);
  std::array<pixman_image_t*, kPoolRows> sources{};
  for (int r = 0; r < kPoolRows; ++r) sources[static_cast<std::size_t>(r)] = RowImage(pool.source[static_cast<std::size_t>(r)].data());
  pixman_image_t* destination = RowImage(work.data());
  int i = 0;
  for (auto _ : state) {
    const auto row = static_cast<std::size_t>(i++ & (kPoolRows - 1));
    if (op != PIXMAN_OP_SRC) std::memcpy(work.data(), pool.destination[row].data(), kRowBytes);
    pixman_image_composite32(op, sources[row], mask, destination, 0, 0, 0, 0, 0, 0, kRowPixels, 1);
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  for (pixman_image_t* image : sources) pixman_image_unref(image);
  pixman_image_unref(destination);
  if (mask != nullptr) pixman_image_unref(mask);
  SetCounters(state);
}

constexpr int kModeCodes[] = {1, 2, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 22, 23, 25,
                              28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38};

constexpr pixman_op_t kPixmanOperators[] = {
    PIXMAN_OP_SRC,        PIXMAN_OP_OVER,       PIXMAN_OP_ADD,        PIXMAN_OP_MULTIPLY,
    PIXMAN_OP_SCREEN,     PIXMAN_OP_OVERLAY,    PIXMAN_OP_DARKEN,     PIXMAN_OP_LIGHTEN,
    PIXMAN_OP_DIFFERENCE, PIXMAN_OP_COLOR_DODGE, PIXMAN_OP_COLOR_BURN};

void BlendArguments(benchmark::internal::Benchmark* benchmark, const int* codes, std::size_t count) {
  benchmark->ArgNames({"code", "destination", "opacity"});
  for (std::size_t c = 0; c < count; ++c) {
    for (int destination : {kOpaque, kTransparent, kHalfTransparent, kMixed}) {
      for (int opacity : {255, 128}) benchmark->Args({codes[c], destination, opacity});
    }
  }
}

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Copy);
BENCHMARK(BM_BlendRow)->Apply([](benchmark::internal::Benchmark* b) {
  BlendArguments(b, kModeCodes, std::size(kModeCodes));
});
BENCHMARK(BM_Pixman)->Apply([](benchmark::internal::Benchmark* b) {
  int codes[std::size(kPixmanOperators)];
  for (std::size_t i = 0; i < std::size(kPixmanOperators); ++i) codes[i] = kPixmanOperators[i];
  BlendArguments(b, codes, std::size(codes));
});

}  // namespace
