#include "png_reader.h"

#include <png.h>

#include <new>

namespace kvd {
namespace {

// Frees libpng's state on every way out.
struct PngImage {
  png_image image{};
  PngImage() { image.version = PNG_IMAGE_VERSION; }
  ~PngImage() { png_image_free(&image); }
  PngImage(const PngImage&) = delete;
  PngImage& operator=(const PngImage&) = delete;
};

}  // namespace

bool ReadPng(const std::filesystem::path& path, BgraPicture& picture, std::string& error) {
  PngImage png;
  if (png_image_begin_read_from_file(&png.image, path.c_str()) == 0) {
    error = png.image.message;
    return false;
  }
  png.image.format = PNG_FORMAT_BGRA;
  try {
    picture.pixels.resize(PNG_IMAGE_SIZE(png.image));
  } catch (const std::bad_alloc&) {
    error = "out of memory for a " + std::to_string(png.image.width) + " x " + std::to_string(png.image.height) +
            " picture";
    return false;
  }
  if (png_image_finish_read(&png.image, nullptr, picture.pixels.data(), 0, nullptr) == 0) {
    error = png.image.message;
    return false;
  }
  picture.width = png.image.width;
  picture.height = png.image.height;
  return true;
}

}  // namespace kvd
