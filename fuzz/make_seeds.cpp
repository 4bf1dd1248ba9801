// Writes the seed corpora of the loader and pipeline fuzz targets: valid
// documents of several shapes, both payload encodings, with chunks before the
// preview for the reader to skip.
//
//   kvd-make-fuzz-seeds OUTPUT_DIR   (writes OUTPUT_DIR/loader and OUTPUT_DIR/pipeline)

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pipeline_input.h"
#include "support/container_builder.h"

namespace {

using kvd::testing::Bytes;
using kvd::testing::ContainerBuilder;

struct Shape {
  int width;
  int height;
};

Bytes Document(Shape shape, const Bytes& pixels, bool compressed, int chunksBefore) {
  ContainerBuilder builder;
  builder.Manifest("<?xml version=\"1.0\"?><Dodiru width=\"64\" height=\"48\"><Layer bin=\"layer0\"/>" +
                   std::string("<Thumb width=\"") + std::to_string(shape.width) + "\" height=\"" +
                   std::to_string(shape.height) + "\" bin=\"thumb\"/></Dodiru>");
  for (int i = 0; i < chunksBefore; ++i) {
    const std::string name = "layer" + std::to_string(i);
    const Bytes layer(static_cast<std::size_t>(16 * (i + 1)), static_cast<std::uint8_t>(i));
    builder.Chunk(i % 2 == 0 ? kvd::testing::StoredChunk(name, layer) : kvd::testing::ZlibChunk(name, layer));
  }
  builder.Chunk(compressed ? kvd::testing::ZlibChunk("thumb", pixels) : kvd::testing::StoredChunk("thumb", pixels));
  return builder.Build();
}

bool Write(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) std::fprintf(stderr, "kvd-make-fuzz-seeds: cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

// The pipeline target reads its edge length from the leading bytes.
Bytes WithEdge(std::uint32_t cx, const Bytes& document) {
  const auto edge = kvd::fuzz::EdgeBytes(cx);
  Bytes input(edge.begin(), edge.end());
  input.insert(input.end(), document.begin(), document.end());
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: kvd-make-fuzz-seeds OUTPUT_DIR\n", stderr);
    return 2;
  }
  const std::filesystem::path root = argv[1];
  std::filesystem::create_directories(root / "loader");
  std::filesystem::create_directories(root / "pipeline");
  const std::vector<Shape> shapes = {{1, 1}, {3, 2}, {2, 7}, {16, 16}, {24, 6}, {5, 19}};
  const std::vector<std::uint32_t> edges = {1, 16, 32, 96, 256, 1024};
  bool written = true;
  std::size_t index = 0;
  for (const Shape shape : shapes) {
    const Bytes pixels = kvd::testing::PixelBytes(kvd::testing::GradientPixels(shape.width, shape.height));
    for (const bool compressed : {false, true}) {
      for (const int chunksBefore : {0, 2}) {
        const Bytes document = Document(shape, pixels, compressed, chunksBefore);
        const std::string name = "seed-" + std::to_string(index);
        written = Write(root / "loader" / name, document) && written;
        written = Write(root / "pipeline" / name, WithEdge(edges[index % edges.size()], document)) && written;
        ++index;
      }
    }
  }
  // For the reader alone, a flat preview whose small zlib stream inflates well
  // past the inflater's first output piece, so that its growing output is
  // fuzzed too. The pipeline would spend a quarter of its run on its copies.
  const Shape flat = {160, 120};
  const Bytes flatPixels(std::size_t{160} * 120 * 4, 0x80);
  written = Write(root / "loader" / "seed-flat", Document(flat, flatPixels, true, 0)) && written;
  return written ? 0 : 1;
}
