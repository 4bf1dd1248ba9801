#include "thumbnail_provider/thumbnail_pipeline.h"

#include <gtest/gtest.h>

#include <cstring>

#include "container_reader/memory_stream.h"
#include "support/container_builder.h"
#include "support/heap_counter.h"

namespace kvd {
namespace {

using testing::Bytes;

constexpr ruta::ArgbPixel kOpaqueTeal = 0xFF00A0B0;

ThumbnailBitmap Render(const Bytes& document, std::uint32_t cx) {
  MemoryStream stream(document);
  return RenderThumbnailBitmap(&stream, cx);
}

Bytes UniformDocument(int width, int height, ruta::ArgbPixel colour = kOpaqueTeal) {
  return testing::ThumbnailDocument(
      width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), colour));
}

// The canvas pixel (x, y), y counted from the top, read back from the
// bottom-up bitmap bytes.
ruta::ArgbPixel CanvasPixel(const ThumbnailBitmap& bitmap, int x, int y) {
  const int cx = bitmap.header.biWidth;
  const std::size_t offset = (static_cast<std::size_t>(cx - 1 - y) * static_cast<std::size_t>(cx) + static_cast<std::size_t>(x)) * 4;
  ruta::ArgbPixel word = 0;
  std::memcpy(&word, bitmap.bits.data() + offset, 4);
  return word;
}

struct Placement {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Placement&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Placement& p) {
  return out << p.width << "x" << p.height << " at (" << p.x << ", " << p.y << ")";
}

// The bounding box of the non-transparent canvas pixels; every pixel inside it
// must hold the colour, every pixel outside must be 0.
Placement PlacementOf(const ThumbnailBitmap& bitmap, ruta::ArgbPixel colour) {
  const int cx = bitmap.header.biWidth;
  int left = cx, top = cx, right = -1, bottom = -1;
  for (int y = 0; y < cx; ++y) {
    for (int x = 0; x < cx; ++x) {
      if (CanvasPixel(bitmap, x, y) == 0) continue;
      left = std::min(left, x);
      top = std::min(top, y);
      right = std::max(right, x);
      bottom = std::max(bottom, y);
    }
  }
  const Placement placement{left, top, right - left + 1, bottom - top + 1};
  for (int y = 0; y < cx; ++y) {
    for (int x = 0; x < cx; ++x) {
      const bool inside = x >= left && x <= right && y >= top && y <= bottom;
      EXPECT_EQ(CanvasPixel(bitmap, x, y), inside ? colour : 0u) << "at " << x << "," << y;
    }
  }
  return placement;
}

TEST(RenderThumbnail, FitsAndCentresTheStoredPreview) {
  struct Case {
    int width, height;
    std::uint32_t cx;
    Placement expected;
  };
  const Case cases[] = {
      {400, 300, 256, {0, 32, 256, 192}},  {300, 400, 256, {32, 0, 192, 256}},
      {25, 11, 100, {0, 29, 100, 43}},     // 100 / (25 / 11) is just below 44 and truncates
      {100, 300, 100, {34, 0, 33, 100}},   {1000, 1, 256, {0, 128, 256, 1}},
      {1, 1000, 256, {128, 0, 1, 256}},    {1, 1, 7, {0, 0, 7, 7}},
      {64, 64, 256, {0, 0, 256, 256}},     {3, 2, 1, {0, 0, 1, 1}},
  };
  for (const Case& c : cases) {
    const ThumbnailBitmap bitmap = Render(UniformDocument(c.width, c.height), c.cx);
    ASSERT_EQ(bitmap.result.status, RenderStatus::Ok);
    EXPECT_EQ(bitmap.result.outcome, LoadOutcome::Thumbnail);
    EXPECT_EQ(PlacementOf(bitmap, kOpaqueTeal), c.expected) << c.width << "x" << c.height << " at " << c.cx;
    const PreviewRect& reported = bitmap.result.preview;
    EXPECT_EQ((Placement{reported.x, reported.y, reported.width, reported.height}), c.expected)
        << "reported for " << c.width << "x" << c.height << " at " << c.cx;
  }
}

TEST(RenderThumbnail, NonContainerGivesTheCheckerboardOverTheWholeSquare) {
  const ThumbnailBitmap bitmap = Render(Bytes(30, 'x'), 128);
  EXPECT_EQ(bitmap.result.outcome, LoadOutcome::Placeholder);
  EXPECT_EQ(CanvasPixel(bitmap, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(CanvasPixel(bitmap, 16, 0), 0xFFE0E0E0u);  // cells of 8 doubled
  EXPECT_EQ(CanvasPixel(bitmap, 127, 127), 0xFFFFFFFFu);
  EXPECT_EQ(CanvasPixel(bitmap, 127, 0), 0xFFE0E0E0u);
}

TEST(RenderThumbnail, WritesRowsBottomUpAndPixelsAsBlueGreenRedAlpha) {
  const Bytes document = testing::ThumbnailDocument(2, 2, {0x11223344, 0x11223344, 0x55667788, 0x55667788});
  const ThumbnailBitmap bitmap = Render(document, 2);
  ASSERT_EQ(bitmap.bits.size(), 16u);
  const Bytes bottomRowFirst = {0x88, 0x77, 0x66, 0x55, 0x88, 0x77, 0x66, 0x55,
                                0x44, 0x33, 0x22, 0x11, 0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(bitmap.bits, bottomRowFirst);
}

TEST(RenderThumbnail, CanvasRowZeroIsTheLastRowInMemory) {
  std::vector<std::uint32_t> pixels(256 * 256, kOpaqueTeal);
  std::fill(pixels.begin(), pixels.begin() + 256, 0xFF0000FF);  // top row blue
  const ThumbnailBitmap bitmap = Render(testing::ThumbnailDocument(256, 256, pixels), 256);
  const Bytes blueRow = testing::PixelBytes(std::vector<std::uint32_t>(256, 0xFF0000FF));
  EXPECT_TRUE(std::equal(blueRow.begin(), blueRow.end(), bitmap.bits.end() - 1024));
  EXPECT_FALSE(std::equal(blueRow.begin(), blueRow.end(), bitmap.bits.begin()));
}

TEST(RenderThumbnail, DescribesABottomUpThirtyTwoBitBitmap) {
  const ThumbnailBitmap bitmap = Render(UniformDocument(2, 2), 96);
  EXPECT_EQ(bitmap.header.biSize, 40u);
  EXPECT_EQ(bitmap.header.biWidth, 96);
  EXPECT_EQ(bitmap.header.biHeight, 96);
  EXPECT_EQ(bitmap.header.biPlanes, 1);
  EXPECT_EQ(bitmap.header.biBitCount, 32);
  EXPECT_EQ(bitmap.header.biCompression, 0u);
  EXPECT_EQ(bitmap.header.biSizeImage, 0u);
  EXPECT_EQ(bitmap.header.biClrUsed, 0u);
  EXPECT_EQ(bitmap.bits.size(), 96u * 96 * 4);
}

TEST(RenderThumbnail, WithoutAStreamTheSquareIsTransparent) {
  const ThumbnailBitmap bitmap = RenderThumbnailBitmap(nullptr, 33);
  ASSERT_EQ(bitmap.result.status, RenderStatus::Ok);
  EXPECT_EQ(bitmap.result.outcome, LoadOutcome::NoThumbnail);
  EXPECT_EQ(bitmap.result.preview.width, 0);
  EXPECT_EQ(bitmap.bits, Bytes(33 * 33 * 4, 0));
}

TEST(RenderThumbnail, ContainerWithoutThumbnailDrawsWhatTheLoaderLeft) {
  // The document image stays as constructed: one transparent pixel.
  const Bytes document = testing::ContainerBuilder().Manifest("<Dodiru/>").Build();
  const ThumbnailBitmap bitmap = Render(document, 16);
  EXPECT_EQ(bitmap.result.outcome, LoadOutcome::NoThumbnail);
  EXPECT_EQ(bitmap.bits, Bytes(16 * 16 * 4, 0));
}

TEST(RenderThumbnail, RefusesEdgesWhoseCanvasWouldOverflowBeforeReading) {
  for (std::uint32_t cx : {0u, kMaxThumbnailEdge + 1, 0xFFFFFFFFu}) {
    MemoryStream stream(UniformDocument(2, 2));
    const ThumbnailBitmap bitmap = RenderThumbnailBitmap(&stream, cx);
    EXPECT_EQ(bitmap.result.status, RenderStatus::InvalidSize) << cx;
    EXPECT_TRUE(bitmap.bits.empty());
    EXPECT_EQ(stream.Position(), 0u);
  }
}

TEST(RenderThumbnail, ASecondRenderReadsOnFromWhereTheFirstStopped) {
  const Bytes document = UniformDocument(2, 2);
  Bytes twice = document;
  twice.insert(twice.end(), document.begin(), document.end());
  MemoryStream stream(twice);
  EXPECT_EQ(RenderThumbnailBitmap(&stream, 8).result.outcome, LoadOutcome::Thumbnail);
  EXPECT_EQ(RenderThumbnailBitmap(&stream, 8).result.outcome, LoadOutcome::Thumbnail);
  EXPECT_EQ(RenderThumbnailBitmap(&stream, 8).result.outcome, LoadOutcome::Placeholder);

  MemoryStream once(document);
  RenderThumbnailBitmap(&once, 8);
  EXPECT_EQ(RenderThumbnailBitmap(&once, 8).result.outcome, LoadOutcome::Placeholder);
}

TEST(RenderThumbnail, KeepsAlphaAndColoursUnconverted) {
  const ThumbnailBitmap bitmap = Render(testing::ThumbnailDocument(1, 1, {0x80FF2010}), 5);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 5; ++x) EXPECT_EQ(CanvasPixel(bitmap, x, y), 0x80FF2010u);
  }
}

// A Thumb that declares a large picture but delivers a short payload draws
// as the picture with every undelivered pixel transparent black, and costs
// the payload rather than the picture (4096 x 2048 would be 32 MiB).
TEST(RenderThumbnail, ShortPayloadCostsItsOwnBytesAndDrawsAsTheZeroPaddedPicture) {
  constexpr int kWidth = 4096;
  constexpr int kHeight = 2048;
  const Bytes delivered = testing::PixelBytes(testing::GradientPixels(kWidth, 37));
  const Bytes shortPayload(delivered.begin(), delivered.end() - 4 * 1000);
  const Bytes shortDocument = testing::ContainerBuilder()
                                  .Manifest(testing::ThumbManifest(kWidth, kHeight, "thumb"))
                                  .Chunk(testing::StoredChunk("thumb", shortPayload))
                                  .Build();
  Bytes padded = shortPayload;
  padded.resize(static_cast<std::size_t>(kWidth) * kHeight * 4, 0);
  const Bytes paddedDocument = testing::ContainerBuilder()
                                   .Manifest(testing::ThumbManifest(kWidth, kHeight, "thumb"))
                                   .Chunk(testing::StoredChunk("thumb", padded))
                                   .Build();
  for (std::uint32_t cx : {256u, 300u}) {  // whole and fractional box steps
    const testing::HeapPeak peak;
    const ThumbnailBitmap bitmap = Render(shortDocument, cx);
    const std::size_t canvasBytes = 2 * static_cast<std::size_t>(cx) * cx * 4;  // canvas and bitmap
    EXPECT_LT(peak.BytesAboveStart(), canvasBytes + 2 * shortDocument.size() + (4u << 20)) << cx;
    EXPECT_EQ(bitmap.result.outcome, LoadOutcome::Thumbnail);
    EXPECT_TRUE(bitmap.bits == Render(paddedDocument, cx).bits) << cx;
  }
}

}  // namespace
}  // namespace kvd
