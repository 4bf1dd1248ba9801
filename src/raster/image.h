#pragma once

#include <cstdint>

#include "raster/pixel.h"

namespace ruta {

// Geometry and buffer of an image. The fields are public so that the pixel
// operations can read them directly; only the resizes and FreeBuffer write them.
class CImageBase {
 public:
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t rowBytes = 0;   // ceil(width * bytes per pixel); kept current, not used for addressing
  bool isSquarePow2 = false;   // width == height and the side is a power of two
  std::int32_t sideMask = 0;   // width - 1 for a square image, else 0
  ArgbPixel* pixels = nullptr; // width * height words, row-major, row 0 at the top

 protected:
  CImageBase() = default;
  ~CImageBase() = default;
};

// A 32-bit ARGB raster in one owned, contiguous heap block. A new image is
// 1 x 1. Buffers are zero-filled when they are allocated, so a pixel that no
// operation has written is transparent black; only ResizeForOverwrite leaves
// them unset.
class CImage32 : public CImageBase {
 public:
  CImage32();
  virtual ~CImage32();

  CImage32(const CImage32&) = delete;
  CImage32& operator=(const CImage32&) = delete;

  virtual void FreeBuffer();

  // Gives the image a new size and a fresh buffer; the old content is never
  // carried over. A request equal to the current size (compared before sides
  // below 1 are clamped to 1) changes nothing. Returns false when the buffer
  // cannot be had; the image then has its new geometry but no buffer.
  virtual bool Resize(std::int32_t newWidth, std::int32_t newHeight);

  // Resize for a caller that writes every pixel before it reads any: the
  // fresh buffer is not cleared, which for a picture of megabytes costs as
  // much as writing it. On the current size it changes nothing, as Resize.
  bool ResizeForOverwrite(std::int32_t newWidth, std::int32_t newHeight);

  // Address of pixel (x, y), or null outside the image or without a buffer.
  virtual const ArgbPixel* PixelAt(std::int32_t x, std::int32_t y) const;
  virtual ArgbPixel* PixelAt(std::int32_t x, std::int32_t y);

  // The same address without any range test.
  virtual const ArgbPixel* PixelAtRaw(std::int32_t x, std::int32_t y) const;
  virtual ArgbPixel* PixelAtRaw(std::int32_t x, std::int32_t y);

 private:
  enum class Fill { Zero, Unset };

  bool Reallocate(std::int32_t newWidth, std::int32_t newHeight, Fill fill);
  void ApplyGeometry(std::int32_t newWidth, std::int32_t newHeight);
  bool AllocateBuffer(Fill fill = Fill::Zero);
};

// Pixels of an image with a buffer; 0 for an image without one.
std::int64_t PixelCount(const CImage32& image);

// Paints a board of 8 x 8 cells into the top-left width x height corner of the
// image, colourA in the top-left cell. Returns false, writing nothing, for a
// non-positive extent, an image with a non-positive side or without a buffer.
bool FillChecker(CImage32& image, std::int32_t width, std::int32_t height, ArgbPixel colourA,
                 ArgbPixel colourB);

}  // namespace ruta
