// Every faster row function is held to the plain reference, word for word.

#include "raster/row_functions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "raster/resample.h"
#include "raster_test_support.h"

namespace ruta {
namespace {

using testing::ImageOf;
using testing::PixelsOf;

// Random words with alpha drawn from 0, 255 and the values between, so that
// every weight path is taken.
std::vector<ArgbPixel> RandomPicture(std::size_t count, std::mt19937& random) {
  std::vector<ArgbPixel> pixels(count);
  for (ArgbPixel& p : pixels) {
    const auto kind = static_cast<std::uint32_t>(random() % 3);
    const std::uint32_t alpha = kind == 0 ? 0 : kind == 1 ? 255 : static_cast<std::uint32_t>(random() & 0xFF);
    p = (alpha << 24) | (static_cast<std::uint32_t>(random()) & 0xFFFFFF);
  }
  return pixels;
}

struct ResampleCase {
  std::int32_t sourceWidth, sourceHeight, destinationWidth, destinationHeight;
};

// Reductions by whole and fractional steps, enlargements below and above
// two times, boxes ending on pixel boundaries, small boxes in whole groups of
// eight up to the right edge, and sources and destinations wider than a piece
// of columns.
constexpr ResampleCase kResampleCases[] = {
    {64, 64, 16, 16},  {300, 400, 192, 256}, {200, 200, 3, 2},   {7, 5, 4, 3},    {5, 7, 9, 11}, {5, 3, 8, 5},
    {2, 2, 3, 3},      {3, 1, 2, 1},         {16, 16, 64, 40},   {9, 13, 19, 26}, {1100, 3, 700, 2},
    {1000, 2, 1999, 3}, {33, 700, 17, 300},  {1, 1, 1, 1},       {100, 300, 33, 100},
};

TEST(RowFunctions, EveryImplementationResamplesExactlyAsTheReference) {
  std::mt19937 random(12);
  for (const ResampleCase& scale : kResampleCases) {
    auto source = ImageOf(scale.sourceWidth, scale.sourceHeight,
                          RandomPicture(static_cast<std::size_t>(scale.sourceWidth * scale.sourceHeight), random));
    // Held rows from none to all: the rows below read as transparent black.
    for (std::int32_t stored : {scale.sourceHeight, scale.sourceHeight / 2, 0}) {
      const SourcePicture picture{source->pixels, scale.sourceWidth, scale.sourceHeight, stored};
      CImage32 expected;
      expected.Resize(scale.destinationWidth, scale.destinationHeight);
      ResampleWith(RowFunctionsFor(RowImplementation::Reference), expected, picture, expected.width,
                   expected.height);
      for (RowImplementation implementation : SupportedImplementations()) {
        SCOPED_TRACE(::testing::Message() << FeatureName(implementation) << " " << scale.sourceWidth << "x"
                                          << scale.sourceHeight << " -> " << scale.destinationWidth << "x"
                                          << scale.destinationHeight << " stored " << stored);
        CImage32 actual;
        actual.Resize(scale.destinationWidth, scale.destinationHeight);
        ResampleWith(RowFunctionsFor(implementation), actual, picture, actual.width, actual.height);
        ASSERT_EQ(PixelsOf(actual), PixelsOf(expected));
      }
    }
  }
}

// A picture held only in part resamples as the whole picture with its
// unheld rows transparent black.
TEST(Resample, UnstoredRowsActAsTransparentBlack) {
  std::mt19937 random(5);
  std::vector<ArgbPixel> pixels = RandomPicture(40 * 30, random);
  std::fill(pixels.begin() + 40 * 11 + 7, pixels.end(), ArgbPixel{0});
  auto whole = ImageOf(40, 30, pixels);
  for (auto [width, height] : {std::pair{13, 9}, std::pair{90, 70}}) {
    CImage32 expected;
    CImage32 actual;
    expected.Resize(width, height);
    actual.Resize(width, height);
    Resample(expected, *whole, width, height);
    Resample(actual, SourcePicture{whole->pixels, 40, 30, 12}, width, height);
    EXPECT_EQ(PixelsOf(actual), PixelsOf(expected));
  }
}

// Optimised builds (the release preset) try every opacity; unoptimised ones,
// where the plain loops are many times slower, every seventeenth.
#if defined(NDEBUG)
constexpr int kOpacityStep = 1;
#else
constexpr int kOpacityStep = 17;
#endif

// Every (source alpha, opacity, destination alpha) triple with random
// colours, plus white sources, equal colours and key words, through every
// blend entry an implementation replaces; the run starts one pixel in and
// ends short of a vector, so that the loops' tails are crossed too.
TEST(RowFunctions, ExhaustiveBlendEveryImplementationMatchesTheReference) {
  constexpr std::size_t kPairs = 256 * 256;
  std::mt19937 random(3);
  std::vector<ArgbPixel> source(kPairs);
  std::vector<ArgbPixel> destination(kPairs);
  for (std::size_t i = 0; i < kPairs; ++i) {
    const auto sourceAlpha = static_cast<std::uint32_t>(i >> 8);
    const auto destinationAlpha = static_cast<std::uint32_t>(i & 0xFF);
    std::uint32_t sourceColour = static_cast<std::uint32_t>(random()) & 0xFFFFFF;
    std::uint32_t destinationColour = static_cast<std::uint32_t>(random()) & 0xFFFFFF;
    if (i % 16 == 3) sourceColour = 0xFFFFFF;
    if (i % 16 == 5) destinationColour = sourceColour;
    source[i] = (sourceAlpha << 24) | sourceColour;
    destination[i] = (destinationAlpha << 24) | destinationColour;
  }
  const auto count = static_cast<std::int32_t>(kPairs - 2);
  for (std::int32_t mode = 0; mode < kBlendModeSlots; ++mode) {
    const auto slot = static_cast<std::size_t>(mode);
    // Each distinct loop once: implementations share the entries they do not replace.
    std::vector<RowLoop> loops;
    for (RowImplementation implementation : SupportedImplementations()) {
      const RowLoop loop = RowFunctionsFor(implementation).blend[slot];
      if (std::find(loops.begin(), loops.end(), loop) == loops.end()) loops.push_back(loop);
    }
    if (loops.size() < 2) continue;
    for (int opacity = 0; opacity < 256; opacity += kOpacityStep) {
      BlendContext context;
      context.mode = mode;
      context.opacity = static_cast<std::uint8_t>(opacity);
      context.colorKey = source[static_cast<std::size_t>(opacity) * 257];
      std::vector<ArgbPixel> expected = destination;
      loops.front()(context, source.data() + 1, expected.data() + 1, count);  // the reference
      for (std::size_t i = 1; i < loops.size(); ++i) {
        std::vector<ArgbPixel> actual = destination;
        loops[i](context, source.data() + 1, actual.data() + 1, count);
        ASSERT_TRUE(actual == expected) << "mode " << mode << " opacity " << opacity << " loop " << i;
      }
    }
  }
}

// Every mode but Copy accepts overlapping runs and defines them pixel by pixel
// in order, so a destination one or more pixels ahead of its source sees
// pixels the same call has already written.
TEST(RowFunctions, OverlappingRunsMatchTheReference) {
  std::mt19937 random(8);
  const std::vector<ArgbPixel> row = RandomPicture(200, random);
  constexpr std::int32_t kCount = 150;
  for (std::int32_t mode = 1; mode < kBlendModeSlots; ++mode) {
    const RowLoop reference = RowFunctionsFor(RowImplementation::Reference).blend[static_cast<std::size_t>(mode)];
    if (reference == nullptr) continue;
    BlendContext context;
    context.mode = mode;
    context.colorKey = row[5];
    for (int opacity : {255, 128}) {
      context.opacity = static_cast<std::uint8_t>(opacity);
      for (std::int32_t ahead : {-3, 1, 2, 5, 9, 17, 40}) {
        const std::int32_t sourceAt = ahead < 0 ? -ahead : 0;
        std::vector<ArgbPixel> expected = row;
        reference(context, expected.data() + sourceAt, expected.data() + sourceAt + ahead, kCount);
        for (RowImplementation implementation : SupportedImplementations()) {
          std::vector<ArgbPixel> actual = row;
          RowFunctionsFor(implementation).blend[static_cast<std::size_t>(mode)](
              context, actual.data() + sourceAt, actual.data() + sourceAt + ahead, kCount);
          ASSERT_TRUE(actual == expected) << FeatureName(implementation) << " mode " << mode << " opacity "
                                          << opacity << " destination ahead by " << ahead;
        }
      }
    }
  }
}

// The suites run once per implementation (see tests/CMakeLists.txt); each run
// must really use the table it asks for.
TEST(RowFunctions, EnvironmentKeepsTheTableBelowTheFirstDisabledFeature) {
  const char* disabled = std::getenv("KVD_DISABLE_CPU_FEATURES");
  const std::string list = disabled == nullptr ? "" : disabled;
  const RowImplementation active = ActiveImplementation();
  if (list.find("sse2") != std::string::npos) {
    EXPECT_EQ(active, RowImplementation::Reference);
  } else if (list.find("avx2") != std::string::npos) {
    EXPECT_EQ(active, RowImplementation::Sse2);
  } else if (list.find("avx512") != std::string::npos) {
    EXPECT_NE(active, RowImplementation::Avx512);
  } else {
    EXPECT_EQ(active, SupportedImplementations().back());
  }
}

}  // namespace
}  // namespace ruta
