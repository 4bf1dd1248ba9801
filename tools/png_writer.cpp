#include "png_writer.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace kvd {
namespace {

// Deflate settings by packing. A thumbnail's PNG is read back once, by the
// file manager's loader, which keeps its own copy: measured on a painting-like
// preview at 128 to 1024 pixels (see DEVELOPING.md, "Benchmarks"), stored
// rows without a filter write about seven times and load about four times
// faster than zlib level 1 with the Sub filter, for files about seven times
// larger. A picture that is kept takes level 1 with the Sub filter, which
// encodes in about half the time of libpng's defaults (level 6, adaptive
// filters) for files about 1.6 times larger.
struct DeflateSettings {
  int level;
  int rowFilter;
};

DeflateSettings SettingsFor(PngPacking packing) {
  switch (packing) {
    case PngPacking::Stored: return {0, PNG_FILTER_NONE};
    case PngPacking::Compressed: return {1, PNG_FILTER_SUB};
  }
  return {1, PNG_FILTER_SUB};
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// libpng reports errors by longjmp; everything that must be released is
// owned outside the function that sets the jump point.
bool EncodeRows(std::FILE* file, std::uint32_t width, std::uint32_t height, std::vector<png_bytep>& rows,
                DeflateSettings settings, std::string& error) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    error = "out of memory";
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    error = "PNG encoding failed";
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, settings.level);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, settings.rowFilter);
  png_write_info(png, info);
  png_set_bgr(png);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool WritePng(const std::filesystem::path& path, std::uint32_t width, std::uint32_t height,
              std::span<const std::uint8_t> bottomUpBgra, std::string& error, PngPacking packing) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    error = std::strerror(errno);
    return false;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
  std::vector<png_bytep> rows(height);
  for (std::uint32_t y = 0; y < height; ++y) {
    // libpng takes non-const rows but only reads them when writing.
    rows[y] = const_cast<png_bytep>(bottomUpBgra.data() + (height - 1 - y) * rowBytes);
  }
  if (!EncodeRows(file.get(), width, height, rows, SettingsFor(packing), error)) return false;
  if (std::fclose(file.release()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace kvd
