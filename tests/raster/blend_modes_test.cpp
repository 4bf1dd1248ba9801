#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "raster/blend.h"
#include "raster_test_support.h"

namespace ruta {
namespace {

using testing::ArgbString;
using testing::BlendOne;

struct PixelCase {
  BlendMode mode;
  std::int32_t opacity;
  ArgbPixel source, destination, expected;
};

TEST(BlendModes, BlendKnownPixelPairs) {
  const ArgbPixel grey = MakeArgb(255, 128, 128, 128);
  const ArgbPixel halfGrey = MakeArgb(128, 128, 128, 128);
  const ArgbPixel darkGrey = MakeArgb(255, 64, 64, 64);
  const ArgbPixel halfOrange = MakeArgb(128, 255, 128, 64);
  const PixelCase cases[] = {
      {BlendMode::Multiply, 255, darkGrey, grey, MakeArgb(255, 32, 32, 32)},
      {BlendMode::Multiply, 128, darkGrey, grey, MakeArgb(255, 79, 79, 79)},
      {BlendMode::Screen, 255, darkGrey, grey, MakeArgb(255, 160, 160, 160)},
      {BlendMode::Overlay, 255, MakeArgb(255, 64, 96, 128), grey, MakeArgb(255, 64, 96, 128)},
      {BlendMode::Overlay, 255, MakeArgb(255, 64, 96, 128), MakeArgb(255, 127, 127, 127), MakeArgb(255, 63, 95, 127)},
      {BlendMode::Add, 255, halfOrange, MakeArgb(255, 16, 16, 16), MakeArgb(255, 144, 80, 48)},
      {BlendMode::Add, 255, MakeArgb(255, 255, 128, 64), MakeArgb(255, 16, 16, 16), MakeArgb(255, 255, 144, 80)},
      {BlendMode::InvertedExclusion, 255, MakeArgb(255, 0, 255, 128), MakeArgb(255, 64, 128, 192),
       MakeArgb(255, 191, 128, 128)},
      {BlendMode::InvertedExclusion, 128, MakeArgb(255, 0, 255, 128), MakeArgb(255, 64, 128, 192),
       MakeArgb(255, 127, 128, 161)},
      // Below full alpha and opacity the 1-to-256 weight of code 11 parts from Div255.
      {BlendMode::InvertedExclusion, 200, MakeArgb(200, 0, 0, 0), MakeArgb(255, 64, 64, 64),
       MakeArgb(255, 142, 142, 142)},
      {BlendMode::ColorDodge, 255, MakeArgb(255, 255, 128, 0), MakeArgb(255, 0, 128, 64), MakeArgb(255, 0, 255, 64)},
      {BlendMode::ColorBurn, 255, MakeArgb(255, 0, 128, 127), MakeArgb(255, 255, 128, 64), MakeArgb(255, 255, 3, 0)},
      {BlendMode::Difference, 255, MakeArgb(255, 16, 240, 128), MakeArgb(255, 128, 16, 127),
       MakeArgb(255, 112, 224, 1)},
      {BlendMode::Lighten, 255, MakeArgb(255, 10, 200, 50), MakeArgb(255, 100, 100, 100), MakeArgb(255, 100, 200, 100)},
      {BlendMode::Darken, 255, MakeArgb(255, 10, 200, 50), MakeArgb(255, 100, 100, 100), MakeArgb(255, 10, 100, 50)},
      {BlendMode::MultiplyAlpha, 255, MakeArgb(128, 64, 64, 64), halfGrey, MakeArgb(191, 82, 82, 82)},
      {BlendMode::MultiplyAlpha, 255, darkGrey, halfGrey, MakeArgb(255, 47, 47, 47)},
      {BlendMode::AddAlpha, 255, halfOrange, MakeArgb(128, 16, 16, 16), MakeArgb(191, 163, 86, 48)},
      {BlendMode::ScreenAlpha, 200, MakeArgb(192, 64, 64, 64), MakeArgb(64, 128, 128, 128), MakeArgb(176, 85, 85, 85)},
      // Partly transparent destinations, worked through the compositing steps by hand.
      {BlendMode::OverlayAlpha, 180, MakeArgb(200, 30, 140, 250), MakeArgb(77, 200, 90, 128),
       MakeArgb(175, 86, 122, 219)},
      {BlendMode::LightenAlpha, 255, MakeArgb(60, 10, 250, 128), MakeArgb(250, 250, 10, 128),
       MakeArgb(251, 248, 66, 128)},
      {BlendMode::DarkenAlpha, 255, MakeArgb(60, 10, 250, 128), MakeArgb(250, 250, 10, 128),
       MakeArgb(251, 192, 11, 128)},
      {BlendMode::DifferenceAlpha, 230, MakeArgb(160, 10, 250, 128), MakeArgb(200, 250, 10, 128),
       MakeArgb(231, 202, 144, 76)},
      {BlendMode::ColorDodgeAlpha, 255, MakeArgb(90, 200, 100, 10), MakeArgb(230, 60, 180, 250),
       MakeArgb(238, 125, 197, 236)},
      {BlendMode::ColorBurnAlpha, 99, MakeArgb(255, 40, 200, 120), MakeArgb(140, 220, 30, 128),
       MakeArgb(184, 132, 80, 105)},
      {BlendMode::InvertedExclusionAlpha, 255, halfOrange, MakeArgb(128, 16, 16, 16), MakeArgb(191, 115, 82, 67)},
      {BlendMode::InvertedExclusionAlpha, 255, MakeArgb(255, 0, 255, 128), MakeArgb(255, 64, 128, 192),
       MakeArgb(255, 191, 128, 128)},
      // P = 20 000 is no multiple of 255: the destination weight falls one short, as computed.
      {BlendMode::InvertedExclusionAlpha, 200, MakeArgb(100, 200, 50, 10), MakeArgb(150, 30, 220, 128),
       MakeArgb(182, 76, 158, 97)},
  };
  for (const PixelCase& c : cases) {
    EXPECT_EQ(ArgbString(BlendOne(c.mode, c.opacity, c.source, c.destination)), ArgbString(c.expected))
        << "mode " << static_cast<int>(c.mode) << " at opacity " << c.opacity;
  }
}

TEST(BlendModes, CompositingCodesGiveATransparentDestinationTheSource) {
  const ArgbPixel source = MakeArgb(255, 64, 64, 64);
  const ArgbPixel transparent = MakeArgb(0, 18, 52, 86);
  for (std::int32_t mode = 28; mode <= 38; ++mode) {
    const auto code = static_cast<BlendMode>(mode);
    EXPECT_EQ(ArgbString(BlendOne(code, 128, source, transparent)), ArgbString(MakeArgb(128, 64, 64, 64)))
        << "mode " << mode;
    const ArgbPixel atOpacityZero = code == BlendMode::InvertedExclusionAlpha ? transparent : MakeArgb(0, 64, 64, 64);
    EXPECT_EQ(ArgbString(BlendOne(code, 0, source, transparent)), ArgbString(atOpacityZero)) << "mode " << mode;
  }
}

// Random pixels, with the alphas and words that the modes treat apart (0,
// 255, white colour, the zero word) well represented.
std::vector<ArgbPixel> RandomRow(std::mt19937& random, std::size_t length) {
  std::vector<ArgbPixel> row(length);
  for (ArgbPixel& p : row) {
    const auto bits = static_cast<ArgbPixel>(random());
    const ArgbPixel shapes[] = {bits & 0x00FFFFFFu, bits | 0xFF000000u, bits | 0x00FFFFFFu, 0, bits, bits};
    p = shapes[random() % 6];
  }
  return row;
}

std::vector<ArgbPixel> BlendRun(std::int32_t mode, std::int32_t opacity, const std::vector<ArgbPixel>& source,
                                std::vector<ArgbPixel> destination) {
  BlendContext context;
  context.mode = mode;
  context.opacity = static_cast<std::uint8_t>(opacity);
  BlendRow(context, source.data(), 0, destination.data(), 0, static_cast<std::int32_t>(source.size()));
  return destination;
}

constexpr std::size_t kRowLength = 4096;

TEST(BlendModes, OpacityZeroLeavesTheDestinationExceptWhereTheModeCopies) {
  std::mt19937 random(99);
  const std::vector<ArgbPixel> source = RandomRow(random, kRowLength);
  const std::vector<ArgbPixel> destination = RandomRow(random, kRowLength);
  const std::vector<std::int32_t> sourceCopyOntoTransparent = {28, 29, 30, 31, 32, 34, 35, 36, 37, 38};
  for (std::int32_t mode = 0; mode <= 38; ++mode) {
    const std::vector<ArgbPixel> result = BlendRun(mode, 0, source, destination);
    const bool copiesOntoTransparent = std::find(sourceCopyOntoTransparent.begin(), sourceCopyOntoTransparent.end(),
                                                 mode) != sourceCopyOntoTransparent.end();
    for (std::size_t i = 0; i < kRowLength; ++i) {
      const ArgbPixel s = source[i], d = destination[i];
      ArgbPixel expected = d;
      if (mode == 0) expected = s;
      if (mode == 1) expected = d & s;
      if (mode == 2) expected = d | s;
      if (copiesOntoTransparent && AlphaOf(d) == 0 && AlphaOf(s) != 0) expected = s & 0x00FFFFFFu;
      ASSERT_EQ(result[i], expected) << "mode " << mode << ", source " << ArgbString(s) << ", destination "
                                     << ArgbString(d) << " gives " << ArgbString(result[i]);
    }
  }
}

TEST(BlendModes, CompositingOnOpaqueDestinationEqualsThePreservingTwin) {
  const std::pair<BlendMode, BlendMode> twins[] = {
      {BlendMode::NormalAlpha, BlendMode::Normal},
      {BlendMode::MultiplyAlpha, BlendMode::Multiply},
      {BlendMode::AddAlpha, BlendMode::Add},
      {BlendMode::OverlayAlpha, BlendMode::Overlay},
      {BlendMode::ScreenAlpha, BlendMode::Screen},
      {BlendMode::LightenAlpha, BlendMode::Lighten},
      {BlendMode::DarkenAlpha, BlendMode::Darken},
      {BlendMode::DifferenceAlpha, BlendMode::Difference},
      {BlendMode::ColorDodgeAlpha, BlendMode::ColorDodge},
      {BlendMode::ColorBurnAlpha, BlendMode::ColorBurn},
  };
  std::mt19937 random(2024);
  const std::vector<ArgbPixel> source = RandomRow(random, kRowLength);
  std::vector<ArgbPixel> opaque = RandomRow(random, kRowLength);
  for (ArgbPixel& p : opaque) p |= 0xFF000000u;
  for (std::int32_t opacity : {255, 254, 200, 128, 1, 0}) {
    for (auto [compositing, preserving] : twins) {
      const auto composited = BlendRun(static_cast<std::int32_t>(compositing), opacity, source, opaque);
      const auto preserved = BlendRun(static_cast<std::int32_t>(preserving), opacity, source, opaque);
      for (std::size_t i = 0; i < kRowLength; ++i) {
        ASSERT_EQ(composited[i], preserved[i])
            << "mode " << static_cast<int>(compositing) << " at opacity " << opacity << ", source "
            << ArgbString(source[i]) << ", destination " << ArgbString(opaque[i]);
      }
    }
  }
}

// Their opacity weights round differently, by at most 2 in a channel.
TEST(BlendModes, InvertedExclusionAlphaOnOpaqueDestinationStaysNearCode11) {
  std::mt19937 random(11);
  const std::vector<ArgbPixel> source = RandomRow(random, kRowLength);
  std::vector<ArgbPixel> opaque = RandomRow(random, kRowLength);
  for (ArgbPixel& p : opaque) p |= 0xFF000000u;
  for (std::int32_t opacity : {255, 200, 128, 1}) {
    const auto composited =
        BlendRun(static_cast<std::int32_t>(BlendMode::InvertedExclusionAlpha), opacity, source, opaque);
    const auto preserved = BlendRun(static_cast<std::int32_t>(BlendMode::InvertedExclusion), opacity, source, opaque);
    for (std::size_t i = 0; i < kRowLength; ++i) {
      const ArgbPixel c = composited[i], p = preserved[i];
      const bool near = AlphaOf(c) == 255 && std::abs(RedOf(c) - RedOf(p)) <= 2 &&
                        std::abs(GreenOf(c) - GreenOf(p)) <= 2 && std::abs(BlueOf(c) - BlueOf(p)) <= 2;
      ASSERT_TRUE(near) << "opacity " << opacity << ", source " << ArgbString(source[i]) << ", destination "
                        << ArgbString(opaque[i]) << ": " << ArgbString(c) << " against " << ArgbString(p);
    }
  }
}

}  // namespace
}  // namespace ruta
