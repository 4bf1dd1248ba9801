#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "raster/blend.h"
#include "raster/image.h"

namespace ruta::testing {

// An image of the given size holding the pixels row by row.
inline std::unique_ptr<CImage32> ImageOf(std::int32_t width, std::int32_t height,
                                         const std::vector<ArgbPixel>& pixels) {
  auto image = std::make_unique<CImage32>();
  if (!image->Resize(width, height)) return nullptr;
  std::copy(pixels.begin(), pixels.end(), image->pixels);
  return image;
}

inline std::vector<ArgbPixel> PixelsOf(const CImage32& image) {
  return {image.pixels, image.pixels + PixelCount(image)};
}

// Pixels as (alpha, red, green, blue), so that a failure reads like the
// expectation it breaks.
inline std::string ArgbString(ArgbPixel p) {
  std::ostringstream text;
  text << '(' << AlphaOf(p) << ", " << RedOf(p) << ", " << GreenOf(p) << ", " << BlueOf(p) << ')';
  return text.str();
}

inline std::string ArgbString(const std::vector<ArgbPixel>& pixels) {
  std::string text;
  for (ArgbPixel p : pixels) text += ArgbString(p) + " ";
  return text;
}

// One pixel composited in the given mode: the destination's new word.
inline ArgbPixel BlendOne(BlendMode mode, std::int32_t opacity, ArgbPixel source, ArgbPixel destination) {
  BlendContext context;
  context.mode = static_cast<std::int32_t>(mode);
  context.opacity = static_cast<std::uint8_t>(opacity);
  BlendRow(context, &source, 0, &destination, 0, 1);
  return destination;
}

}  // namespace ruta::testing
