// The whole pipeline, stream to bitmap, at an edge length taken from the
// input: every document gives a cx x cx bitmap, fully written.

#include <algorithm>
#include <cstdint>
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
  // A document that yields no thumbnail leaves the canvas transparent black;
  // the scan also reads every byte, so that a sanitizer sees each one used.
  const bool blank = std::all_of(bitmap.bits.begin(), bitmap.bits.end(), [](std::uint8_t byte) { return byte == 0; });
  if (bitmap.result.outcome == kvd::LoadOutcome::NoThumbnail) KVD_FUZZ_CHECK(blank);
  return 0;
}
