#include "thumbnail_provider/preview_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "container_reader/memory_stream.h"
#include "raster/resample.h"
#include "support/container_builder.h"
#include "thumbnail_provider/fitting.h"

namespace kvd {
namespace {

constexpr ruta::ArgbPixel kOpaqueTeal = 0xFF00A0B0;
constexpr ruta::ArgbPixel kPaneBlue = 0x000000FF;  // as a COLORREF arrives: no alpha
constexpr ruta::ArgbPixel kOpaquePaneBlue = 0xFF0000FF;

void MakeUniform(ruta::CImage32& image, int width, int height, ruta::ArgbPixel colour) {
  ASSERT_TRUE(image.Resize(width, height));
  std::fill_n(image.pixels, ruta::PixelCount(image), colour);
}

struct Box {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Box&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Box& b) {
  return out << b.width << "x" << b.height << " at (" << b.x << ", " << b.y << ")";
}

// Where the canvas is not the background; every pixel inside must be colour.
Box PictureBox(const ruta::CImage32& canvas, ruta::ArgbPixel colour) {
  int left = canvas.width, top = canvas.height, right = -1, bottom = -1;
  for (int y = 0; y < canvas.height; ++y) {
    for (int x = 0; x < canvas.width; ++x) {
      if (*canvas.PixelAt(x, y) == kOpaquePaneBlue) continue;
      left = std::min(left, x);
      top = std::min(top, y);
      right = std::max(right, x);
      bottom = std::max(bottom, y);
    }
  }
  for (int y = top; y <= bottom; ++y) {
    for (int x = left; x <= right; ++x) EXPECT_EQ(*canvas.PixelAt(x, y), colour) << "at " << x << "," << y;
  }
  return {left, top, right - left + 1, bottom - top + 1};
}

TEST(FitInto, KeepsTheAspectAndTruncatesTheSideThatDoesNotFill) {
  struct Case {
    int w, h, boxWidth, boxHeight;
    FittedSize expected;
  };
  const Case cases[] = {
      {25, 11, 100, 100, {100, 43}},  // 100 / (25 / 11) is just below 44
      {300, 400, 256, 256, {192, 256}}, {64, 64, 256, 256, {256, 256}},
      {400, 300, 100, 400, {100, 75}},  {300, 400, 800, 200, {150, 200}},
      {4, 3, 4000, 3000, {4000, 3000}}, {1, 1000, 4000, 3000, {3, 3000}},
      {1000, 1, 4000, 3000, {4000, 4}}, {1, 100000, 4000, 3000, {0, 3000}},
      {400, 300, 1, 1, {1, 0}},         {1, 1, 1, 1, {1, 1}},
  };
  for (const Case& c : cases) {
    const FittedSize fitted = FitInto(c.w, c.h, c.boxWidth, c.boxHeight);
    EXPECT_EQ(fitted.width, c.expected.width) << c.w << "x" << c.h << " in " << c.boxWidth << "x" << c.boxHeight;
    EXPECT_EQ(fitted.height, c.expected.height) << c.w << "x" << c.h << " in " << c.boxWidth << "x" << c.boxHeight;
  }
}

TEST(RenderPreview, CentresTheFittedPictureOnTheOpaqueBackground) {
  struct Case {
    int w, h, paneWidth, paneHeight;
    Box expected;
  };
  const Case cases[] = {
      {400, 300, 100, 400, {0, 163, 100, 75}}, {2, 1, 9, 9, {0, 2, 9, 4}},
      {1, 1000, 4000, 3000, {1999, 0, 3, 3000}}, {1000, 1, 4000, 3000, {0, 1498, 4000, 4}},
      {400, 300, 1, 1, {0, 0, 1, 1}},           {1, 1, 1, 1, {0, 0, 1, 1}},
  };
  for (const Case& c : cases) {
    ruta::CImage32 document;
    MakeUniform(document, c.w, c.h, kOpaqueTeal);
    ruta::CImage32 canvas;
    ASSERT_EQ(RenderPreview(ruta::PictureOf(document), c.paneWidth, c.paneHeight, kPaneBlue, canvas), RenderStatus::Ok);
    ASSERT_EQ(canvas.width, c.paneWidth);
    ASSERT_EQ(canvas.height, c.paneHeight);
    EXPECT_EQ(PictureBox(canvas, kOpaqueTeal), c.expected)
        << c.w << "x" << c.h << " in " << c.paneWidth << "x" << c.paneHeight;
  }
}

TEST(RenderPreview, BlendsTranslucentPixelsOverTheBackgroundAndStaysOpaque) {
  ruta::CImage32 document;
  MakeUniform(document, 1, 1, 0x80FF0000);  // half-transparent red
  ruta::CImage32 canvas;
  ASSERT_EQ(RenderPreview(ruta::PictureOf(document), 3, 1, kPaneBlue, canvas), RenderStatus::Ok);
  // e = 128: red 255 * 128 / 255, blue 255 * 127 / 255, alpha the background's.
  EXPECT_EQ(*canvas.PixelAt(0, 0), kOpaquePaneBlue);
  EXPECT_EQ(*canvas.PixelAt(1, 0), 0xFF80007Fu);
  EXPECT_EQ(*canvas.PixelAt(2, 0), kOpaquePaneBlue);
}

TEST(RenderPreview, WithoutAPictureShowsTheBackgroundAlone) {
  ruta::CImage32 canvas;
  ASSERT_EQ(RenderPreview({}, 5, 2, kPaneBlue, canvas), RenderStatus::Ok);
  EXPECT_TRUE(std::all_of(canvas.pixels, canvas.pixels + 10, [](ruta::ArgbPixel p) { return p == kOpaquePaneBlue; }));
}

TEST(RenderPreview, RefusesEmptyAndOversizedPanes) {
  ruta::CImage32 canvas;
  EXPECT_EQ(RenderPreview({}, 0, 5, kPaneBlue, canvas), RenderStatus::InvalidSize);
  EXPECT_EQ(RenderPreview({}, 5, -1, kPaneBlue, canvas), RenderStatus::InvalidSize);
  EXPECT_EQ(RenderPreview({}, 65536, 32768, kPaneBlue, canvas), RenderStatus::InvalidSize);
}

// The pane keeps only the rows a short payload delivers, and shows the same
// pixels as the whole picture with the rest transparent black.
TEST(RenderPreview, ShortPayloadShowsAsTheWholePicture) {
  constexpr int kWidth = 1024;
  constexpr int kHeight = 768;
  const testing::Bytes delivered = testing::PixelBytes(testing::GradientPixels(kWidth, 37));
  const testing::Bytes document = testing::ContainerBuilder()
                                      .Manifest(testing::ThumbManifest(kWidth, kHeight, "thumb"))
                                      .Chunk(testing::StoredChunk("thumb", {delivered.begin(), delivered.end() - 999}))
                                      .Build();
  MemoryStream rowsStream(document);
  PreviewDocument shown;
  ReadPreviewDocument(rowsStream, shown);
  ASSERT_EQ(shown.outcome, LoadOutcome::Thumbnail);
  EXPECT_EQ(shown.rows.height, 37);
  MemoryStream wholeStream(document);
  ruta::CImage32 whole;
  ASSERT_EQ(LoadThumbnailImage(whole, wholeStream), LoadOutcome::Thumbnail);
  for (const auto& [paneWidth, paneHeight] : {std::pair{300, 200}, std::pair{2000, 1000}}) {
    ruta::CImage32 fromRows, fromWhole;
    ASSERT_EQ(RenderPreview(shown.Picture(), paneWidth, paneHeight, kPaneBlue, fromRows), RenderStatus::Ok);
    ASSERT_EQ(RenderPreview(ruta::PictureOf(whole), paneWidth, paneHeight, kPaneBlue, fromWhole), RenderStatus::Ok);
    EXPECT_TRUE(std::equal(fromRows.pixels, fromRows.pixels + ruta::PixelCount(fromRows), fromWhole.pixels))
        << paneWidth << "x" << paneHeight;
  }
}

}  // namespace
}  // namespace kvd
