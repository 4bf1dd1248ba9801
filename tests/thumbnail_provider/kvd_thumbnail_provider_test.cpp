#include "thumbnail_provider/kvd_thumbnail_provider.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "container_reader/memory_stream.h"
#include "platform/stand_in/control.h"
#include "support/container_builder.h"
#include "support/fake_istream.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace kvd {
namespace {

using testing::Bytes;
using testing::FakeStream;

constexpr HRESULT kAlreadyInitialized = static_cast<HRESULT>(0x800704DFu);

struct Thumbnail {
  HRESULT result = S_OK;
  std::unique_ptr<DibSection> bitmap;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
};

// What the shell would get for document, straight from the pipeline.
ThumbnailBitmap Expected(const Bytes& document, std::uint32_t cx) {
  MemoryStream stream(document);
  return RenderThumbnailBitmap(&stream, cx);
}

void ExpectBitmap(const Thumbnail& thumbnail, const ThumbnailBitmap& expected) {
  EXPECT_EQ(thumbnail.result, S_OK);
  EXPECT_EQ(thumbnail.alpha, WTSAT_ARGB);
  ASSERT_NE(thumbnail.bitmap, nullptr);
  const BITMAPINFOHEADER& header = thumbnail.bitmap->header;
  EXPECT_EQ(header.biSize, expected.header.biSize);
  EXPECT_EQ(header.biWidth, expected.header.biWidth);
  EXPECT_EQ(header.biHeight, expected.header.biHeight);
  EXPECT_EQ(header.biPlanes, expected.header.biPlanes);
  EXPECT_EQ(header.biBitCount, expected.header.biBitCount);
  EXPECT_EQ(header.biCompression, expected.header.biCompression);
  EXPECT_EQ(header.biSizeImage, expected.header.biSizeImage);
  EXPECT_EQ(header.biClrUsed, expected.header.biClrUsed);
  EXPECT_EQ(thumbnail.bitmap->bits, expected.bits);
}

// One provider as the shell holds it; at the end of the scope it is released
// and must be gone. Streams handed to it must outlive it.
class ProviderUnderTest {
 public:
  ProviderUnderTest() : provider_(new KvdThumbnailProvider(liveObjects_)) {}
  ~ProviderUnderTest() {
    EXPECT_EQ(provider_->Release(), 0u);
    EXPECT_EQ(liveObjects_, 0);
  }
  ProviderUnderTest(const ProviderUnderTest&) = delete;
  ProviderUnderTest& operator=(const ProviderUnderTest&) = delete;

  HRESULT Initialize(IStream& stream) { return provider_->Initialize(&stream, 0); }

  Thumbnail GetThumbnail(UINT cx) {
    DibSection untouched;
    HBITMAP handle = &untouched;
    Thumbnail thumbnail;
    thumbnail.result = provider_->GetThumbnail(cx, &handle, &thumbnail.alpha);
    EXPECT_NE(handle, &untouched) << "no handle stored";
    if (handle != &untouched) thumbnail.bitmap.reset(handle);
    return thumbnail;
  }

 private:
  std::atomic<std::int32_t> liveObjects_{0};
  KvdThumbnailProvider* provider_;
};

class ProviderTest : public ::testing::Test {
 protected:
  void SetUp() override { stand_in::Reset(); }
};

TEST_F(ProviderTest, HandsTheShellWhatThePipelineRenders) {
  const auto pixels = testing::GradientPixels(25, 11);
  struct Case {
    const char* what;
    Bytes document;
    UINT cx;
  };
  const Case cases[] = {
      {"stored thumbnail", testing::ThumbnailDocument(25, 11, pixels), 100},
      {"compressed thumbnail", testing::ThumbnailDocument(25, 11, pixels, true), 7},
      {"not a container", Bytes{'n', 'o', 't', ' ', 'k', 'v', 'd', '!'}, 33},
      {"container without a thumbnail", testing::ContainerBuilder().Manifest("<Dodiru/>").Build(), 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeStream stream(c.document);
    ProviderUnderTest provider;
    EXPECT_EQ(provider.Initialize(stream), S_OK);
    ExpectBitmap(provider.GetThumbnail(c.cx), Expected(c.document, c.cx));
  }
}

TEST_F(ProviderTest, AStreamThatDeliversInPiecesGivesTheSameBitmap) {
  for (const bool compressed : {false, true}) {
    const Bytes document = testing::ThumbnailDocument(25, 11, testing::GradientPixels(25, 11), compressed);
    FakeStream stream(document);
    stream.piece = 7;
    ProviderUnderTest provider;
    EXPECT_EQ(provider.Initialize(stream), S_OK);
    ExpectBitmap(provider.GetThumbnail(96), Expected(document, 96));
  }
}

TEST_F(ProviderTest, WithoutAStreamTheBitmapIsTransparent) {
  ProviderUnderTest provider;
  const Thumbnail thumbnail = provider.GetThumbnail(5);
  ExpectBitmap(thumbnail, RenderThumbnailBitmap(nullptr, 5));
  ASSERT_NE(thumbnail.bitmap, nullptr);
  EXPECT_EQ(thumbnail.bitmap->bits, std::vector<BYTE>(5 * 5 * 4, 0));
}

TEST_F(ProviderTest, ASecondInitializeKeepsTheFirstStream) {
  const Bytes first = testing::ThumbnailDocument(2, 3, testing::GradientPixels(2, 3));
  FakeStream firstStream(first);
  FakeStream secondStream(testing::ThumbnailDocument(3, 2, testing::GradientPixels(3, 2)));
  ProviderUnderTest provider;
  EXPECT_EQ(provider.Initialize(firstStream), S_OK);
  EXPECT_EQ(provider.Initialize(secondStream), kAlreadyInitialized);
  EXPECT_EQ(secondStream.references, 1u);

  ExpectBitmap(provider.GetThumbnail(16), Expected(first, 16));
  EXPECT_EQ(secondStream.reads, 0);
}

TEST_F(ProviderTest, AFailedStreamQueryIsReturnedAndHoldsNothing) {
  const HRESULT refusal = static_cast<HRESULT>(0x80030005u);
  FakeStream refusing;
  refusing.queryFailure = refusal;
  FakeStream accepting;
  ProviderUnderTest provider;
  EXPECT_EQ(provider.Initialize(refusing), refusal);
  EXPECT_EQ(refusing.references, 1u);
  EXPECT_EQ(provider.Initialize(accepting), S_OK);
  EXPECT_EQ(accepting.references, 2u);
}

TEST_F(ProviderTest, RefusedSizesReadNothing) {
  for (const UINT cx : {0u, kMaxThumbnailEdge + 1, 0xFFFFFFFFu}) {
    SCOPED_TRACE(cx);
    FakeStream stream(testing::ThumbnailDocument(2, 2, testing::GradientPixels(2, 2)));
    ProviderUnderTest provider;
    EXPECT_EQ(provider.Initialize(stream), S_OK);
    const Thumbnail thumbnail = provider.GetThumbnail(cx);
    EXPECT_EQ(thumbnail.result, E_INVALIDARG);
    EXPECT_EQ(thumbnail.bitmap, nullptr);
    EXPECT_EQ(thumbnail.alpha, WTSAT_ARGB);
    EXPECT_EQ(stream.reads, 0);
    EXPECT_TRUE(stream.seeks.empty());
  }
}

TEST_F(ProviderTest, ABitmapThatCannotBeMadeIsOutOfMemory) {
  stand_in::FailDibSections();
  FakeStream stream(testing::ThumbnailDocument(2, 2, testing::GradientPixels(2, 2)));
  ProviderUnderTest provider;
  EXPECT_EQ(provider.Initialize(stream), S_OK);
  const Thumbnail thumbnail = provider.GetThumbnail(8);
  EXPECT_EQ(thumbnail.result, E_OUTOFMEMORY);
  EXPECT_EQ(thumbnail.bitmap, nullptr);
  EXPECT_EQ(thumbnail.alpha, WTSAT_ARGB);
}

TEST_F(ProviderTest, EachThumbnailReadsOnWhereTheLastOneStopped) {
  const Bytes first = testing::ThumbnailDocument(4, 2, testing::GradientPixels(4, 2));
  const Bytes second = testing::ThumbnailDocument(1, 3, testing::GradientPixels(1, 3), true);
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  FakeStream stream(both);
  ProviderUnderTest provider;
  EXPECT_EQ(provider.Initialize(stream), S_OK);

  ExpectBitmap(provider.GetThumbnail(12), Expected(first, 12));
  EXPECT_EQ(stream.position, first.size());
  ExpectBitmap(provider.GetThumbnail(12), Expected(second, 12));
  ExpectBitmap(provider.GetThumbnail(12), Expected({}, 12));
}

}  // namespace
}  // namespace kvd
