#include <gtest/gtest.h>

#include "thumbnail_provider/thumbnail_pipeline.h"

// The module tests make, count and destroy providers but never ask one for a
// thumbnail, so the module is tested without the pipeline behind it.
namespace kvd {

RenderResult RenderThumbnail(ByteStream*, std::uint32_t, ruta::CImage32&) {
  ADD_FAILURE() << "the module tests do not render";
  return {RenderStatus::InvalidSize, LoadOutcome::NoThumbnail};
}

void CopyCanvasBottomUp(const ruta::CImage32&, std::span<std::uint8_t>) {
  ADD_FAILURE() << "the module tests do not render";
}

BitmapHeader ThumbnailBitmapHeader(std::uint32_t) {
  ADD_FAILURE() << "the module tests do not render";
  return {};
}

}  // namespace kvd
