#include "raster/resample.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "raster_test_support.h"

namespace ruta {
namespace {

using testing::ArgbString;
using testing::ImageOf;
using testing::PixelsOf;

constexpr ArgbPixel kBlack = MakeArgb(255, 0, 0, 0);
constexpr ArgbPixel kBlue = MakeArgb(255, 0, 0, 255);
constexpr ArgbPixel kRed = MakeArgb(255, 255, 0, 0);
constexpr ArgbPixel kSentinel = 0xA5A5A5A5;

constexpr ArgbPixel Blue(std::int32_t value) { return MakeArgb(255, 0, 0, value); }

struct ScaleCase {
  const char* name;
  std::pair<std::int32_t, std::int32_t> sourceSize;
  std::vector<ArgbPixel> source;
  std::pair<std::int32_t, std::int32_t> destinationSize;
  std::vector<ArgbPixel> expected;
};

TEST(Resample, ScalesKnownImages) {
  const ArgbPixel halfBlue = MakeArgb(128, 10, 20, 200);
  const ArgbPixel clear = MakeArgb(0, 200, 100, 50);
  const ArgbPixel a = MakeArgb(100, 1, 2, 3);
  const ArgbPixel b = MakeArgb(100, 4, 5, 6);
  const ArgbPixel c = MakeArgb(100, 7, 8, 9);
  const ArgbPixel d = MakeArgb(100, 10, 11, 12);
  const ScaleCase cases[] = {
      {"doubling copies the pixel whole", {1, 1}, {halfBlue}, {2, 2}, {halfBlue, halfBlue, halfBlue, halfBlue}},
      {"middle pixel weighs 128 then 127", {3, 1}, {kBlack, kBlue, kBlack}, {2, 1}, {Blue(85), Blue(84)}},
      {"transparent half lends no colour", {2, 1}, {kRed, 0}, {1, 1}, {MakeArgb(127, 255, 0, 0)}},
      {"one blue of four", {2, 2}, {kBlue, kBlack, kBlack, kBlack}, {1, 1}, {Blue(63)}},
      {"enlargement below two times filters", {2, 1}, {kBlue, kBlack}, {3, 1}, {Blue(255), Blue(127), Blue(0)}},
      {"partly transparent box: coverage weighs alpha and colour",
       {2, 1},
       {MakeArgb(100, 0, 0, 255), MakeArgb(100, 0, 0, 0)},
       {3, 1},
       {0x630000FF, 0x6300007F, 0x63000000}},
      {"box over transparent pixels is 0", {2, 2}, {clear, clear, clear, clear}, {1, 1}, {0}},
      {"box enlargement of transparent pixels is 0", {2, 1}, {clear, clear}, {3, 1}, {0, 0, 0}},
      {"nearest neighbour keeps colour under alpha 0", {1, 1}, {clear}, {2, 1}, {clear, clear}},
      {"samples under the left edge, no half-pixel offset", {3, 1}, {a, b, c}, {7, 1}, {a, a, a, b, b, c, c}},
      {"the truncated step lags behind a threefold enlargement", {2, 1}, {a, b}, {6, 1}, {a, a, a, a, b, b}},
      // Alpha 100 tells the methods apart: a box here would give alphas 99 and 98.
      {"doubling one axis is nearest neighbour on both", {2, 2}, {a, b, c, d}, {4, 2}, {a, a, b, b, c, c, d, d}},
  };
  for (const ScaleCase& scale : cases) {
    SCOPED_TRACE(scale.name);
    const auto [width, height] = scale.destinationSize;
    auto source = ImageOf(scale.sourceSize.first, scale.sourceSize.second, scale.source);
    auto destination = ImageOf(width, height, std::vector<ArgbPixel>(scale.expected.size(), kSentinel));
    EXPECT_TRUE(Resample(*destination, *source, width, height));
    EXPECT_EQ(ArgbString(PixelsOf(*destination)), ArgbString(scale.expected));
  }
}

std::vector<ArgbPixel> RandomPixels(std::size_t count, std::mt19937& random) {
  std::vector<ArgbPixel> pixels(count);
  for (ArgbPixel& p : pixels) p = static_cast<ArgbPixel>(random());
  return pixels;
}

// The limits cut the written extent and nothing else: every written pixel has
// the value of the unlimited call, every other keeps its value.
TEST(Resample, LimitsWriteExactlyTheTopLeftOfTheFullResult) {
  std::mt19937 random(7);
  const std::pair<int, int> destinationSizes[] = {{5, 4}, {15, 13}};  // box filter, nearest neighbour
  auto source = ImageOf(7, 6, RandomPixels(42, random));
  for (auto [width, height] : destinationSizes) {
    auto full = ImageOf(width, height, {});
    Resample(*full, *source, width, height);
    for (auto [maxWidth, maxHeight] : {std::pair{0, height},
                                       {width, 0},
                                       {-3, -3},
                                       {1, height},
                                       {3, 2},
                                       {width - 1, height},
                                       {width + 9, height + 9}}) {
      SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " limited to " + std::to_string(maxWidth) +
                   "x" + std::to_string(maxHeight));
      auto limited =
          ImageOf(width, height, std::vector<ArgbPixel>(static_cast<std::size_t>(width * height), kSentinel));
      EXPECT_TRUE(Resample(*limited, *source, maxWidth, maxHeight));
      for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
          const bool written = x < maxWidth && y < maxHeight;
          ASSERT_EQ(*limited->PixelAt(x, y), written ? *full->PixelAt(x, y) : kSentinel) << x << "," << y;
        }
      }
    }
  }
}

// Each 200 x 200 box holds 40,000 pixels, whose weighted sums pass 2^31; the
// result must still be the exact alpha-weighted mean, computed here directly.
TEST(Resample, LargeBoxesGiveTheExactWeightedMean) {
  constexpr std::int32_t kSide = 2000;
  constexpr std::int32_t kBox = 200;
  auto pixelAt = [](std::int32_t x, std::int32_t y) {
    return MakeArgb(255 - (x * 7 + y * 3) % 26, 255 - x % 50, (x * y) & 255, (x + 2 * y) & 255);
  };
  CImage32 source;
  ASSERT_TRUE(source.Resize(kSide, kSide));
  for (std::int32_t y = 0; y < kSide; ++y) {
    for (std::int32_t x = 0; x < kSide; ++x) *source.PixelAt(x, y) = pixelAt(x, y);
  }
  CImage32 destination;
  ASSERT_TRUE(destination.Resize(kSide / kBox, kSide / kBox));
  Resample(destination, source, destination.width, destination.height);

  for (std::int32_t by = 0; by < destination.height; ++by) {
    for (std::int32_t bx = 0; bx < destination.width; ++bx) {
      std::int64_t alpha = 0, red = 0, green = 0, blue = 0;
      for (std::int32_t y = by * kBox; y < (by + 1) * kBox; ++y) {
        for (std::int32_t x = bx * kBox; x < (bx + 1) * kBox; ++x) {
          const ArgbPixel p = pixelAt(x, y);
          alpha += AlphaOf(p);
          red += std::int64_t{RedOf(p)} * AlphaOf(p);
          green += std::int64_t{GreenOf(p)} * AlphaOf(p);
          blue += std::int64_t{BlueOf(p)} * AlphaOf(p);
        }
      }
      const auto mean = [alpha](std::int64_t sum) { return static_cast<std::int32_t>(sum / alpha); };
      const ArgbPixel expected =
          MakeArgb(static_cast<std::int32_t>(alpha / (kBox * kBox)), mean(red), mean(green), mean(blue));
      ASSERT_EQ(ArgbString(*destination.PixelAt(bx, by)), ArgbString(expected)) << bx << "," << by;
    }
  }
}

}  // namespace
}  // namespace ruta
