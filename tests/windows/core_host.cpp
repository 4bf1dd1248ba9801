// The portable core as the Windows compiler and C runtime build it: renders
// every expected document, read through the file stream, and compares the
// bits with the native pipeline's. A difference here lies in the core (or in
// how it uses the runtime), not in the COM module around it.
//
//   kvd_core_host EXPECTATIONS_DIR

#include <cstdio>
#include <vector>

#include "check.h"
#include "container_reader/file_stream.h"
#include "expectations.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kvd_core_host EXPECTATIONS_DIR\n");
    return 2;
  }
  const std::vector<kvd::wine::Expectation> expectations = kvd::wine::ReadExpectations(argv[1]);
  for (const kvd::wine::Expectation& expected : expectations) {
    kvd::FileStream stream(expected.document);
    if (!KVD_CHECK(stream.IsOpen())) continue;
    const kvd::ThumbnailBitmap bitmap = kvd::RenderThumbnailBitmap(&stream, expected.cx);
    KVD_CHECK(bitmap.result.status == kvd::RenderStatus::Ok);
    kvd::wine::CheckSameBits(bitmap.bits, expected, "file stream");
  }
  std::printf("%zu thumbnails compared\n", expectations.size());
  return kvd::wine::ExitStatus();
}
