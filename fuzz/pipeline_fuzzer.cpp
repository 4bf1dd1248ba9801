// The whole pipeline, stream to bitmap, at an edge length taken from the
// input: every document gives a cx x cx bitmap, fully written.

#include <cstdint>
#include <cstring>
#include <vector>

#include "container_reader/memory_stream.h"
#include "fuzz_input.h"
#include "pipeline_input.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const kvd::fuzz::PipelineInput input = kvd::fuzz::SplitPipelineInput({data, size});
  kvd::MemoryStream stream(std::vector<std::uint8_t>(input.document.begin(), input.document.end()));
  const kvd::ThumbnailBitmap bitmap = kvd::RenderThumbnailBitmap(&stream, input.cx);
  KVD_FUZZ_CHECK(bitmap.result.status == kvd::RenderStatus::Ok);
  KVD_FUZZ_CHECK(bitmap.header.biWidth == static_cast<std::int32_t>(input.cx));
  KVD_FUZZ_CHECK(bitmap.header.biHeight == static_cast<std::int32_t>(input.cx));
  KVD_FUZZ_CHECK(bitmap.bits.size() == std::size_t{input.cx} * input.cx * 4);
  // A document that yields no thumbnail leaves the canvas transparent black.
  // memcmp of the canvas against itself shifted by one byte scans it outside
  // the coverage instrumentation, which would otherwise cost a fifth of the run.
  if (bitmap.result.outcome == kvd::LoadOutcome::NoThumbnail) {
    const std::uint8_t* bits = bitmap.bits.data();
    KVD_FUZZ_CHECK(bits[0] == 0 && std::memcmp(bits, bits + 1, bitmap.bits.size() - 1) == 0);
  }
  return 0;
}
