// Decodes a PNG into the layout of kvd-thumbnail --raw (bottom row first,
// blue, green, red, alpha), so that a script can compare the two with cmp.

#include <cstdio>
#include <fstream>
#include <string>

#include "png_reader.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: png-to-raw INPUT.png OUTPUT.raw\n", stderr);
    return 2;
  }
  kvd::BgraPicture picture;
  std::string error;
  if (!kvd::ReadPng(argv[1], picture, error)) {
    std::fprintf(stderr, "png-to-raw: cannot read %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary);
  const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * 4;
  for (std::uint32_t row = picture.height; row-- > 0;) {
    out.write(reinterpret_cast<const char*>(picture.pixels.data() + row * rowBytes),
              static_cast<std::streamsize>(rowBytes));
  }
  out.close();
  if (!out) {
    std::fprintf(stderr, "png-to-raw: cannot write %s\n", argv[2]);
    return 1;
  }
  std::printf("%u x %u\n", picture.width, picture.height);
  return 0;
}
