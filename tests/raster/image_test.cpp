#include "raster/image.h"

#include <gtest/gtest.h>

namespace ruta {
namespace {

TEST(CImage32, NewImageIsOneTransparentPixel) {
  CImage32 image;
  EXPECT_EQ(image.width, 1);
  EXPECT_EQ(image.height, 1);
  EXPECT_EQ(image.rowBytes, 4);
  EXPECT_TRUE(image.isSquarePow2);
  EXPECT_EQ(image.sideMask, 0);
  ASSERT_NE(image.pixels, nullptr);
  EXPECT_EQ(image.pixels[0], 0u);
}

TEST(CImage32, ResizeKeepsGeometryFieldsCurrent) {
  struct Case {
    std::int32_t width, height;
    bool isSquarePow2;
    std::int32_t sideMask;
  };
  const Case cases[] = {{4, 4, true, 3},   {3, 3, false, 2},   {4, 2, false, 0},
                        {2, 4, false, 0},  {1024, 1024, true, 1023}, {6, 6, false, 5}};
  for (const Case& c : cases) {
    CImage32 image;
    ASSERT_TRUE(image.Resize(c.width, c.height));
    EXPECT_EQ(image.width, c.width);
    EXPECT_EQ(image.height, c.height);
    EXPECT_EQ(image.rowBytes, c.width * 4);
    EXPECT_EQ(image.isSquarePow2, c.isSquarePow2) << c.width << "x" << c.height;
    EXPECT_EQ(image.sideMask, c.sideMask) << c.width << "x" << c.height;
  }
  CImage32 image;
  ASSERT_TRUE(image.Resize(5, 5));
  ASSERT_TRUE(image.Resize(1, 1));
  EXPECT_TRUE(image.isSquarePow2);
  EXPECT_EQ(image.sideMask, 0);
}

TEST(CImage32, ResizeToTheCurrentSizeKeepsBufferAndContent) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(3, 2));
  ArgbPixel* const buffer = image.pixels;
  buffer[5] = 0x12345678;
  EXPECT_TRUE(image.Resize(3, 2));
  EXPECT_EQ(image.pixels, buffer);
  EXPECT_EQ(image.pixels[5], 0x12345678u);
}

TEST(CImage32, ResizeBelowOneClampsButStillReallocates) {
  CImage32 image;
  image.pixels[0] = 0xDEADBEEF;
  ASSERT_TRUE(image.Resize(0, -5));
  EXPECT_EQ(image.width, 1);
  EXPECT_EQ(image.height, 1);
  EXPECT_EQ(image.pixels[0], 0u) << "the request differs from 1 x 1, so the content is new";
}

TEST(CImage32, ResizeToADifferentSizeGivesAClearedBuffer) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(8, 8));
  image.pixels[63] = 0xFFFFFFFF;
  ASSERT_TRUE(image.Resize(8, 9));
  for (std::int32_t i = 0; i < 72; ++i) EXPECT_EQ(image.pixels[i], 0u);
}

TEST(CImage32, OversizedRequestIsRefusedLikeAFailedAllocation) {
  CImage32 image;
  EXPECT_FALSE(image.Resize(65536, 65536));
  EXPECT_EQ(image.pixels, nullptr);
  EXPECT_EQ(image.width, 65536);
  EXPECT_EQ(image.PixelAt(0, 0), nullptr) << "no buffer, no pixel";
  EXPECT_EQ(PixelCount(image), 0);
  EXPECT_FALSE(FillChecker(image, 8, 8, 1, 2)) << "nothing can be painted without a buffer";

  // A row too wide for a 32-bit byte count, however few rows.
  EXPECT_FALSE(image.Resize(536870912, 1));
  EXPECT_EQ(image.pixels, nullptr);
  EXPECT_GT(image.rowBytes, 0);

  EXPECT_TRUE(image.Resize(2, 2));
  EXPECT_NE(image.PixelAt(1, 1), nullptr);
}

TEST(CImage32, PixelAtTestsTheRangeAndAddressesRowMajor) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(5, 3));
  const CImage32& readOnly = image;
  EXPECT_EQ(image.PixelAt(-1, 0), nullptr);
  EXPECT_EQ(image.PixelAt(5, 0), nullptr);
  EXPECT_EQ(image.PixelAt(0, 3), nullptr);
  EXPECT_EQ(image.PixelAt(0, -1), nullptr);
  EXPECT_EQ(readOnly.PixelAt(5, 0), nullptr);
  EXPECT_EQ(image.PixelAt(4, 2), image.pixels + 14);
  EXPECT_EQ(readOnly.PixelAt(4, 2), image.pixels + 14);
  EXPECT_EQ(image.PixelAt(0, 1), image.PixelAt(0, 0) + 5);
  EXPECT_EQ(image.PixelAtRaw(2, 1), image.pixels + 7);
  EXPECT_EQ(readOnly.PixelAtRaw(2, 1), image.pixels + 7);
}

TEST(CImage32, FreeBufferDropsOnlyTheBuffer) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(4, 4));
  image.FreeBuffer();
  EXPECT_EQ(image.pixels, nullptr);
  EXPECT_EQ(image.width, 4);
  EXPECT_EQ(image.sideMask, 3);
  image.FreeBuffer();
  EXPECT_EQ(image.pixels, nullptr);
}

constexpr ArgbPixel kA = 0xFFFFFFFF;
constexpr ArgbPixel kB = 0xFFE0E0E0;

TEST(FillChecker, PaintsEightPixelCellsStartingWithColourA) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(64, 64));
  ASSERT_TRUE(FillChecker(image, 64, 64, kA, kB));
  for (auto [x, y] : {std::pair{0, 0}, {7, 7}, {8, 8}, {16, 0}, {63, 63}}) {
    EXPECT_EQ(*image.PixelAt(x, y), kA) << x << "," << y;
  }
  for (auto [x, y] : {std::pair{8, 0}, {0, 8}, {15, 7}, {63, 0}}) {
    EXPECT_EQ(*image.PixelAt(x, y), kB) << x << "," << y;
  }
}

TEST(FillChecker, StaysInsideTheImageAndTheRequestedCorner) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(10, 10));
  ASSERT_TRUE(FillChecker(image, 1000, 1000, kA, kB));
  EXPECT_EQ(*image.PixelAt(9, 9), kA);

  ASSERT_TRUE(image.Resize(10, 9));
  ASSERT_TRUE(FillChecker(image, 3, 2, kA, kB));
  EXPECT_EQ(*image.PixelAt(2, 1), kA);
  EXPECT_EQ(*image.PixelAt(3, 0), 0u);
  EXPECT_EQ(*image.PixelAt(0, 2), 0u);
}

TEST(FillChecker, RefusesEmptyExtentsAndWritesNothing) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(4, 4));
  EXPECT_FALSE(FillChecker(image, 0, 4, kA, kB));
  EXPECT_FALSE(FillChecker(image, 4, -1, kA, kB));
  for (std::int32_t i = 0; i < 16; ++i) EXPECT_EQ(image.pixels[i], 0u);
}

}  // namespace
}  // namespace ruta
