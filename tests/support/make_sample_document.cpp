// Writes a small sample .kvd document: a 160 x 100 colour-gradient preview,
// zlib-compressed, behind a layer chunk that the reader has to skip.

#include <cstdio>
#include <fstream>

#include "support/container_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: kvd-make-sample OUTPUT.kvd\n", stderr);
    return 2;
  }
  using namespace kvd::testing;
  const Bytes document = ContainerBuilder()
                             .Manifest("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                       "<Dodiru width=\"1600\" height=\"1000\">\n"
                                       "  <Layer name=\"Background\" bin=\"layer0\"/>\n"
                                       "  <Thumb width=\"160\" height=\"100\" bin=\"thumb\"/>\n"
                                       "</Dodiru>\n")
                             .Chunk(ZlibChunk("layer0", Bytes(4096, 0x7F)))
                             .Chunk(ZlibChunk("thumb", PixelBytes(GradientPixels(160, 100))))
                             .Build();
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(document.data()), static_cast<std::streamsize>(document.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "kvd-make-sample: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
