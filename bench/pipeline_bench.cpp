// The thumbnail pipeline, from memory and from a file, beside zlib's
// inflation of the preview payload alone: the realistic document (four 4 MiB
// layers before a 1024 x 768 zlib preview), the same with 1 GiB of stored
// layer before the preview (a sparse file), and a document that declares an
// 8192 x 8192 Thumb but holds 1 MiB of payload.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>

#include "bench_pictures.h"
#include "container_reader/file_stream.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace {

// A byte stream over bytes held elsewhere, so that no iteration copies the document.
class SpanStream final : public kvd::ByteStream {
 public:
  explicit SpanStream(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    const std::size_t left = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    const auto delivered = static_cast<std::uint32_t>(std::min<std::size_t>(count, left));
    if (delivered > 0) std::memcpy(buffer, bytes_.data() + position_, delivered);
    position_ += delivered;
    return delivered;
  }
  void Skip(std::uint32_t count) override { position_ += count; }
  bool ReadFailed() const override { return false; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

const std::vector<std::uint8_t>& Realistic() {
  static const auto bytes = kvd::bench::RealisticDocument();
  return bytes;
}

const std::vector<std::uint8_t>& HugeThumb() {
  static const auto bytes = kvd::bench::HugeThumbDocument();
  return bytes;
}

std::filesystem::path BenchFile(const char* name) {
  return std::filesystem::temp_directory_path() / (std::string("kvd-bench-") + name);
}

const std::filesystem::path& RealisticFile() {
  static const auto path = [] {
    const auto file = BenchFile("realistic.kvd");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(Realistic().data()), static_cast<std::streamsize>(Realistic().size()));
    return file;
  }();
  return path;
}

const std::filesystem::path& GibibyteFile() {
  static const auto path = [] {
    const auto file = BenchFile("gibibyte.kvd");
    kvd::bench::WriteGibibyteDocument(file.string());
    return file;
  }();
  return path;
}

void Render(benchmark::State& state, kvd::ByteStream& stream) {
  const auto bitmap = kvd::RenderThumbnailBitmap(&stream, static_cast<std::uint32_t>(state.range(0)));
  if (bitmap.result.outcome != kvd::LoadOutcome::Thumbnail) state.SkipWithError("no thumbnail drawn");
  benchmark::DoNotOptimize(bitmap.bits.data());
}

void BM_PipelineFromMemory(benchmark::State& state) {
  Realistic();  // built before the timing starts
  for (auto _ : state) {
    SpanStream stream(Realistic());
    Render(state, stream);
  }
}

void BM_PipelineFromFile(benchmark::State& state) {
  const auto& path = RealisticFile();
  for (auto _ : state) {
    kvd::FileStream stream(path);
    Render(state, stream);
  }
}

void BM_PipelineGibibyteLayerFromFile(benchmark::State& state) {
  const auto& path = GibibyteFile();
  for (auto _ : state) {
    kvd::FileStream stream(path);
    Render(state, stream);
  }
}

void BM_PipelineHugeThumbFromMemory(benchmark::State& state) {
  HugeThumb();
  for (auto _ : state) {
    SpanStream stream(HugeThumb());
    const auto bitmap = kvd::RenderThumbnailBitmap(&stream, static_cast<std::uint32_t>(state.range(0)));
    benchmark::DoNotOptimize(bitmap.bits.data());
  }
}

void BM_ZlibInflatePreviewAlone(benchmark::State& state) {
  const auto payload = kvd::bench::PreviewPayload();
  std::vector<std::uint8_t> out(static_cast<std::size_t>(kvd::bench::kPreviewWidth) * kvd::bench::kPreviewHeight * 4);
  for (auto _ : state) {
    uLongf size = static_cast<uLongf>(out.size());
    if (uncompress(out.data(), &size, payload.data(), static_cast<uLong>(payload.size())) != Z_OK) {
      state.SkipWithError("inflate failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
}

BENCHMARK(BM_ZlibInflatePreviewAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipelineFromMemory)->Arg(96)->Arg(256)->ArgName("cx")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipelineFromFile)->Arg(96)->Arg(256)->ArgName("cx")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipelineGibibyteLayerFromFile)->Arg(256)->ArgName("cx")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipelineHugeThumbFromMemory)->Arg(256)->ArgName("cx")->Unit(benchmark::kMillisecond);

}  // namespace
