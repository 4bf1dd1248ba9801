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

std::string SizeText(const png_image& image) {
  return std::to_string(image.width) + " x " + std::to_string(image.height);
}

bool Fits(const png_image& image, PngSizeLimit limit) {
  return image.width <= limit.side && image.height <= limit.side &&
         std::uint64_t{image.width} * image.height <= limit.pixels;
}

}  // namespace

bool ReadPng(const std::filesystem::path& path, BgraPicture& picture, std::string& error, PngSizeLimit limit) {
  PngImage png;
  if (png_image_begin_read_from_file(&png.image, path.c_str()) == 0) {
    error = png.image.message;
    return false;
  }
  if (!Fits(png.image, limit)) {
    error = "it declares " + SizeText(png.image) + " pixels, beyond the limit of " + std::to_string(limit.side) +
            " a side and " + std::to_string(limit.pixels) + " in all";
    return false;
  }
  png.image.format = PNG_FORMAT_BGRA;
  try {
    picture.pixels.resize(PNG_IMAGE_SIZE(png.image));
  } catch (const std::bad_alloc&) {
    error = "out of memory for a " + SizeText(png.image) + " picture";
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
