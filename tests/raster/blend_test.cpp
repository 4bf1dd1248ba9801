#include "raster/blend.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "raster_test_support.h"

namespace ruta {
namespace {

using testing::ArgbString;
using testing::BlendOne;

struct PixelCase {
  const char* name;
  BlendMode mode;
  std::int32_t opacity;
  ArgbPixel source, destination, expected;
};

void ExpectPixelCases(const std::vector<PixelCase>& cases) {
  for (const PixelCase& c : cases) {
    EXPECT_EQ(ArgbString(BlendOne(c.mode, c.opacity, c.source, c.destination)), ArgbString(c.expected)) << c.name;
  }
}

TEST(BlendRow, NormalModes) {
  ExpectPixelCases({
      {"half white over black", BlendMode::Normal, 255, MakeArgb(128, 255, 255, 255), MakeArgb(255, 0, 0, 0),
       MakeArgb(255, 128, 128, 128)},
      {"destination alpha 0 is kept", BlendMode::Normal, 255, MakeArgb(255, 200, 100, 50), MakeArgb(0, 10, 10, 10),
       MakeArgb(0, 200, 100, 50)},
      {"keyed at partial opacity blends as normal", BlendMode::KeyedNormal, 128, MakeArgb(255, 200, 100, 50),
       MakeArgb(255, 0, 0, 0), MakeArgb(255, 100, 50, 25)},
      {"blue over red, both half", BlendMode::NormalAlpha, 255, MakeArgb(128, 0, 0, 255), MakeArgb(128, 255, 0, 0),
       MakeArgb(191, 84, 0, 170)},
      {"onto transparent copies", BlendMode::NormalAlpha, 255, MakeArgb(200, 10, 20, 30), MakeArgb(0, 99, 99, 99),
       MakeArgb(200, 10, 20, 30)},
      {"onto transparent scales alpha", BlendMode::NormalAlpha, 128, MakeArgb(200, 10, 20, 30), MakeArgb(0, 99, 99, 99),
       MakeArgb(100, 10, 20, 30)},
  });
}

TEST(BlendRow, EraseModesLowerOnlyAlpha) {
  const ArgbPixel destination = MakeArgb(200, 1, 2, 3);
  ExpectPixelCases({
      {"opaque source clears", BlendMode::EraseAlpha, 255, MakeArgb(255, 9, 9, 9), destination, MakeArgb(0, 1, 2, 3)},
      {"not below 0", BlendMode::EraseAlpha, 255, MakeArgb(100, 9, 9, 9), MakeArgb(60, 1, 2, 3), MakeArgb(0, 1, 2, 3)},
      {"by the source alpha", BlendMode::EraseAlpha, 255, MakeArgb(100, 9, 9, 9), destination, MakeArgb(100, 1, 2, 3)},
      {"transparent source clears", BlendMode::EraseInverseAlpha, 255, MakeArgb(0, 9, 9, 9), destination,
       MakeArgb(0, 1, 2, 3)},
      {"opaque source keeps", BlendMode::EraseInverseAlpha, 255, MakeArgb(255, 9, 9, 9), destination, destination},
  });
}

TEST(BlendRow, CopyAndBitwiseModesTakeAlphaAsBits) {
  ExpectPixelCases({
      {"copy", BlendMode::Copy, 0, MakeArgb(7, 8, 9, 10), MakeArgb(1, 2, 3, 4), MakeArgb(7, 8, 9, 10)},
      {"and clears alpha", BlendMode::And, 255, MakeArgb(0, 255, 255, 255), MakeArgb(200, 1, 2, 3),
       MakeArgb(0, 1, 2, 3)},
      {"or", BlendMode::Or, 0, MakeArgb(128, 1, 0, 6), MakeArgb(1, 2, 0, 3), MakeArgb(129, 3, 0, 7)},
  });
}

TEST(BlendRow, KeyedNormalSkipsOnlyTheWholeKeyWord) {
  const ArgbPixel key = MakeArgb(255, 10, 20, 30);
  const ArgbPixel black = MakeArgb(255, 0, 0, 0);
  const ArgbPixel source[] = {key, MakeArgb(254, 10, 20, 30), MakeArgb(255, 10, 20, 31)};
  ArgbPixel destination[] = {black, black, black};
  BlendContext context;
  context.mode = static_cast<std::int32_t>(BlendMode::KeyedNormal);
  context.colorKey = key;
  BlendRow(context, source, 0, destination, 0, 3);
  EXPECT_EQ(ArgbString({destination[0], destination[1], destination[2]}),
            ArgbString({black, MakeArgb(255, 9, 19, 29), MakeArgb(255, 10, 20, 31)}));
}

TEST(BlendRow, ComposesPixelIOfEachRunFromTheGivenIndices) {
  const std::vector<ArgbPixel> source = {1, 2, 3, 4, 5};
  const std::pair<BlendMode, std::vector<ArgbPixel>> cases[] = {
      {BlendMode::Copy, {0x100, 0x100, 2, 3, 4, 0x100}},
      {BlendMode::Or, {0x100, 0x100, 0x102, 0x103, 0x104, 0x100}},
  };
  for (const auto& [mode, expected] : cases) {
    std::vector<ArgbPixel> destination(6, 0x100);
    BlendContext context;
    context.mode = static_cast<std::int32_t>(mode);
    BlendRow(context, source.data(), 1, destination.data(), 2, 3);
    EXPECT_EQ(destination, expected);
  }
}

TEST(BlendRow, EmptyRunsNullRowsAndUnknownCodesWriteNothing) {
  const ArgbPixel source[] = {MakeArgb(255, 1, 2, 3)};
  const ArgbPixel original = MakeArgb(100, 4, 5, 6);
  auto destinationAfter = [&](std::int32_t mode, const ArgbPixel* sourceRow, bool nullDestination, std::int32_t count) {
    ArgbPixel destination[] = {original};
    BlendContext context;
    context.mode = mode;
    BlendRow(context, sourceRow, 0, nullDestination ? nullptr : destination, 0, count);
    return destination[0];
  };
  for (std::int32_t mode : {0, 1, 2, 6, 8, 28, 33}) {
    EXPECT_EQ(destinationAfter(mode, source, false, 0), original) << "mode " << mode;
    EXPECT_EQ(destinationAfter(mode, source, false, -1), original) << "mode " << mode;
    EXPECT_EQ(destinationAfter(mode, nullptr, false, 1), original) << "mode " << mode;
    EXPECT_EQ(destinationAfter(mode, source, true, 1), original) << "mode " << mode;
  }
  for (std::int32_t mode : {3, 4, 5, 17, 21, 24, 26, 27, 39, -1, std::numeric_limits<std::int32_t>::min(),
                            std::numeric_limits<std::int32_t>::max()}) {
    EXPECT_EQ(destinationAfter(mode, source, false, 1), original) << "mode " << mode;
  }
}

}  // namespace
}  // namespace ruta
