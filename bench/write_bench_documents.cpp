// kvd-bench-documents DIR: writes the documents of the whole-process
// benchmarks: realistic.kvd, gibibyte.kvd (sparse), huge-thumb.kvd, and
// preview.png, the realistic document's preview as a PNG for other
// thumbnailers.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_pictures.h"
#include "png_writer.h"

namespace {

bool WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

bool WritePreviewPng(const std::filesystem::path& path) {
  const int width = kvd::bench::kPreviewWidth;
  const int height = kvd::bench::kPreviewHeight;
  const auto pixels = kvd::bench::PaintingPixels(width, height, 9);
  std::vector<std::uint8_t> bottomUp(pixels.size() * 4);
  for (int y = 0; y < height; ++y) {
    const auto* row = pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    std::memcpy(bottomUp.data() + static_cast<std::size_t>(height - 1 - y) * static_cast<std::size_t>(width) * 4, row,
                static_cast<std::size_t>(width) * 4);
  }
  std::string error;
  // Compressed, as pictures are kept: the PNG that other thumbnailers read.
  return kvd::WritePng(path, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), bottomUp, error,
                       kvd::PngPacking::Compressed);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: kvd-bench-documents DIR\n", stderr);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  const bool ok = WriteBytes(folder / "realistic.kvd", kvd::bench::RealisticDocument()) &&
                  kvd::bench::WriteGibibyteDocument((folder / "gibibyte.kvd").string()) &&
                  WriteBytes(folder / "huge-thumb.kvd", kvd::bench::HugeThumbDocument()) &&
                  WritePreviewPng(folder / "preview.png");
  if (!ok) std::fputs("kvd-bench-documents: could not write the documents\n", stderr);
  return ok ? 0 : 1;
}
