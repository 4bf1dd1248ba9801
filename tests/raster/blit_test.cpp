#include "raster/blit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <random>
#include <tuple>
#include <vector>

#include "raster/blend.h"
#include "raster_test_support.h"

namespace ruta {

bool operator==(const BlitRect& a, const BlitRect& b) {
  return a.srcX == b.srcX && a.srcY == b.srcY && a.width == b.width && a.height == b.height && a.dstX == b.dstX &&
         a.dstY == b.dstY;
}

void PrintTo(const BlitRect& r, std::ostream* out) {
  *out << "(" << r.srcX << ", " << r.srcY << ", " << r.width << ", " << r.height << ", " << r.dstX << ", " << r.dstY
       << ")";
}

namespace {

struct ClipCase {
  SizePair source, destination;
  BlitRect request;
  bool answer;
  BlitRect clipped;  // for a false answer from an early test: the request, untouched
};

TEST(ClipBlitRect, ClipsKnownRequests) {
  const ClipCase cases[] = {
      {{3, 2}, {5, 5}, {0, 0, 3, 2, 1, 1}, true, {0, 0, 3, 2, 1, 1}},
      {{4, 4}, {3, 3}, {0, 0, 4, 4, 0, 0}, true, {0, 0, 3, 3, 0, 0}},
      {{4, 4}, {4, 4}, {0, 0, 4, 4, -1, -2}, true, {1, 2, 3, 2, 0, 0}},
      {{2, 1}, {3, 3}, {-1, 0, 3, 1, 0, 0}, true, {0, 0, 2, 1, 1, 0}},
      {{8, 8}, {4, 4}, {2, 2, 8, 8, 1, 1}, true, {2, 2, 3, 3, 1, 1}},
      {{4, 4}, {4, 4}, {0, 0, 4, 4, 4, 0}, false, {0, 0, 4, 4, 4, 0}},
  };
  for (const ClipCase& c : cases) {
    BlitRect rect = c.request;
    EXPECT_EQ(ClipBlitRect(c.source, c.destination, rect), c.answer) << ::testing::PrintToString(c.request);
    EXPECT_EQ(rect, c.clipped);
  }
}

TEST(ClipBlitRect, EmptyRequestsAreRefused) {
  for (auto [width, height] : {std::pair{0, 2}, {2, 0}, {-1, 2}, {2, -5}, {0, 0}}) {
    BlitRect rect{0, 0, width, height, 0, 0};
    EXPECT_FALSE(ClipBlitRect({4, 4}, {4, 4}, rect)) << width << "x" << height;
  }
}

// A rectangle that ends left of the destination passes every early test and is
// refused only by the final extent test; BlitRows refuses it before clipping.
TEST(BlitRows, RectEndingLeftOfTheDestinationDrivesNoRow) {
  BlitRect rect{0, 0, 4, 4, -4, 0};
  EXPECT_FALSE(ClipBlitRect({4, 4}, {4, 4}, rect));
  CImage32 source, destination;
  ASSERT_TRUE(source.Resize(4, 4));
  ASSERT_TRUE(destination.Resize(4, 4));
  int rows = 0;
  BlitRows(source, destination, {0, 0, 4, 4, -4, 0}, [&rows](auto&&...) { ++rows; });
  EXPECT_EQ(rows, 0);
}

TEST(BlitRows, CopiesThePlacedRectangleRowByRow) {
  auto source = testing::ImageOf(3, 2, {1, 2, 3, 4, 5, 6});
  auto destination = testing::ImageOf(4, 3, {});
  const BlendContext copy;
  BlitRows(*source, *destination, {1, 0, 5, 5, 2, 1},
           [&copy](const ArgbPixel* sourceRow, std::int32_t srcX, ArgbPixel* destinationRow, std::int32_t dstX,
                   std::int32_t width) { BlendRow(copy, sourceRow, srcX, destinationRow, dstX, width); });
  EXPECT_EQ(testing::PixelsOf(*destination), (std::vector<ArgbPixel>{0, 0, 0, 0, 0, 0, 2, 3, 0, 0, 5, 6}));
}

// The part of the request inside both images, found by testing every
// destination pixel: images are small, so this holds for any coordinates.
std::optional<BlitRect> BruteForceIntersection(SizePair source, SizePair destination, const BlitRect& r) {
  std::int64_t left = destination.width, top = destination.height, right = -1, bottom = -1, covered = 0;
  for (std::int64_t y = 0; y < destination.height; ++y) {
    for (std::int64_t x = 0; x < destination.width; ++x) {
      const std::int64_t i = x - r.dstX, j = y - r.dstY;
      const std::int64_t sx = r.srcX + i, sy = r.srcY + j;
      if (i < 0 || i >= r.width || j < 0 || j >= r.height) continue;
      if (sx < 0 || sx >= source.width || sy < 0 || sy >= source.height) continue;
      left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
      ++covered;
    }
  }
  if (covered == 0) return std::nullopt;
  EXPECT_EQ(covered, (right - left + 1) * (bottom - top + 1)) << "an intersection of rectangles is a rectangle";
  auto narrow = [](std::int64_t v) { return static_cast<std::int32_t>(v); };
  return BlitRect{narrow(r.srcX + left - r.dstX),
                  narrow(r.srcY + top - r.dstY),
                  narrow(right - left + 1),
                  narrow(bottom - top + 1),
                  narrow(left),
                  narrow(top)};
}

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

// Positions near the images, far away, or at the ends of the 32-bit range.
std::int32_t RandomPosition(std::mt19937& random) {
  std::uniform_int_distribution<std::int32_t> near(-14, 14), any(kMin, kMax), edge(0, 3);
  switch (random() % 6) {
    case 0: return any(random);
    case 1: return kMax - edge(random);
    case 2: return kMin + edge(random);
    default: return near(random);
  }
}

std::int32_t Saturated(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, kMin, kMax));
}

// One axis of a request: source start, destination start, extent. Mostly a
// placement near the images with both starts moved left by one shift and the
// extent grown by it, which leaves the intersection as it was however far
// the shift goes; now and then three arbitrary values.
std::tuple<std::int32_t, std::int32_t, std::int32_t> RandomAxis(std::mt19937& random) {
  std::uniform_int_distribution<std::int32_t> start(-3, 8), extent(-1, 12);
  std::uniform_int_distribution<std::int64_t> farShift(0, kMax);
  if (random() % 4 == 0) return {RandomPosition(random), RandomPosition(random), RandomPosition(random)};
  const std::int64_t shifts[] = {0, farShift(random), kMax};
  const std::int64_t shift = shifts[random() % 3];
  return {Saturated(start(random) - shift), Saturated(start(random) - shift), Saturated(extent(random) + shift)};
}

struct RandomRequest {
  SizePair source, destination;
  BlitRect rect;
};

std::vector<RandomRequest> RandomRequests() {
  std::mt19937 random(1234);
  std::uniform_int_distribution<std::int32_t> side(1, 9);
  std::vector<RandomRequest> requests(20000);
  for (RandomRequest& request : requests) {
    request.source = {side(random), side(random)};
    request.destination = {side(random), side(random)};
    BlitRect& r = request.rect;
    std::tie(r.srcX, r.dstX, r.width) = RandomAxis(random);
    std::tie(r.srcY, r.dstY, r.height) = RandomAxis(random);
  }
  return requests;
}

TEST(ClipBlitRect, TrueExactlyForTheNonEmptyIntersectionOfBothImages) {
  for (const RandomRequest& request : RandomRequests()) {
    const std::optional<BlitRect> expected = BruteForceIntersection(request.source, request.destination, request.rect);
    BlitRect clipped = request.rect;
    ASSERT_EQ(ClipBlitRect(request.source, request.destination, clipped), expected.has_value())
        << ::testing::PrintToString(request.rect);
    if (expected) {
      ASSERT_EQ(clipped, *expected) << ::testing::PrintToString(request.rect);
    }
  }
}

// Where each row operation starts, as offsets into the two buffers.
struct RowCall {
  std::int64_t sourceRowStart, srcX, destinationRowStart, dstX, width;
  bool operator==(const RowCall&) const = default;
};

TEST(BlitRows, DrivesOneRowOperationPerRowOfTheIntersection) {
  for (const RandomRequest& request : RandomRequests()) {
    CImage32 source, destination;
    ASSERT_TRUE(source.Resize(request.source.width, request.source.height));
    ASSERT_TRUE(destination.Resize(request.destination.width, request.destination.height));
    std::vector<RowCall> calls;
    BlitRows(source, destination, request.rect,
             [&](const ArgbPixel* sourceRow, std::int32_t srcX, ArgbPixel* destinationRow, std::int32_t dstX,
                 std::int32_t width) {
               calls.push_back({sourceRow - source.pixels, srcX, destinationRow - destination.pixels, dstX, width});
             });
    std::vector<RowCall> expected;
    if (auto clipped = BruteForceIntersection(request.source, request.destination, request.rect)) {
      for (std::int64_t j = 0; j < clipped->height; ++j) {
        expected.push_back({(clipped->srcY + j) * source.width, clipped->srcX, (clipped->dstY + j) * destination.width,
                            clipped->dstX, clipped->width});
      }
    }
    ASSERT_TRUE(calls == expected) << ::testing::PrintToString(request.rect);
  }
}

}  // namespace
}  // namespace ruta
