#include "container_reader/thumbnail_loader.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <tinyxml.h>

#include <functional>


#include "container_reader/container_header.h"
#include "container_reader/manifest.h"
#include "container_reader/memory_stream.h"
#include "support/container_builder.h"
#include "support/heap_counter.h"
#include "support/recording_stream.h"

namespace kvd {
namespace {

using testing::Bytes;
using testing::ChunkRecord;
using testing::ContainerBuilder;
using testing::PixelBytes;
using testing::StoredChunk;
using testing::ThumbManifest;

constexpr ruta::ArgbPixel kMarker = 0x5A5A5A5A;

// An image that is not what any load would make, to see whether it was touched.
struct MarkedImage {
  MarkedImage() {
    image.Resize(3, 2);
    for (int i = 0; i < 6; ++i) image.pixels[i] = kMarker;
  }
  bool Untouched() const {
    if (image.width != 3 || image.height != 2) return false;
    for (int i = 0; i < 6; ++i) {
      if (image.pixels[i] != kMarker) return false;
    }
    return true;
  }
  ruta::CImage32 image;
};

LoadOutcome Load(ruta::CImage32& image, const Bytes& document) {
  MemoryStream stream(document);
  return LoadThumbnailImage(image, stream);
}

std::vector<ruta::ArgbPixel> PixelsOf(const ruta::CImage32& image) {
  return {image.pixels, image.pixels + ruta::PixelCount(image)};
}

TEST(LoadThumbnailImage, DeliversTheStoredPreview) {
  const auto pixels = testing::GradientPixels(7, 5);
  for (bool compressed : {false, true}) {
    ruta::CImage32 image;
    EXPECT_EQ(Load(image, testing::ThumbnailDocument(7, 5, pixels, compressed)), LoadOutcome::Thumbnail);
    EXPECT_EQ(image.width, 7);
    EXPECT_EQ(image.height, 5);
    EXPECT_EQ(PixelsOf(image), pixels);
  }
}

TEST(LoadThumbnailImage, ReadsPastDeclarationCommentsAndOtherChunks) {
  const Bytes document =
      ContainerBuilder()
          .Manifest("<?xml version=\"1.0\" encoding=\"UTF-8\"?><!--Dodiru--><Dodiru width=\"1\" height=\"1\">"
                    "<Layer/><Thumb width=\"2\" height=\"1\" bin=\"t\"/></Dodiru>")
          .Chunk(StoredChunk("layer", Bytes(40, 1)))
          .Chunk(StoredChunk("t", {1, 2, 3, 4, 5, 6, 7, 8}))
          .Build();
  ruta::CImage32 image;
  ASSERT_EQ(Load(image, document), LoadOutcome::Thumbnail);
  EXPECT_EQ(PixelsOf(image), (std::vector<ruta::ArgbPixel>{0x04030201, 0x08070605}));
}

TEST(LoadThumbnailImage, NonContainersGetTheCheckerboard) {
  const Bytes notNulTerminated = {'v', 'o', 'x', 'p', 'a', 'c', 'k', ' ', 0, 0, 0, 0};
  for (const Bytes& document : {Bytes{}, Bytes{'v', 'o', 'x'}, notNulTerminated, Bytes(100, 0x41)}) {
    MarkedImage marked;
    EXPECT_EQ(Load(marked.image, document), LoadOutcome::Placeholder);
    ASSERT_EQ(marked.image.width, 64);
    ASSERT_EQ(marked.image.height, 64);
    EXPECT_EQ(*marked.image.PixelAt(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(*marked.image.PixelAt(8, 0), 0xFFE0E0E0u);
    EXPECT_EQ(*marked.image.PixelAt(63, 63), 0xFFFFFFFFu);
  }
}

TEST(LoadThumbnailImage, ContainersWithoutAUsableManifestLeaveTheImageAlone) {
  const std::string thumb = "<Thumb width=\"1\" height=\"1\" bin=\"t\"/>";
  const std::vector<std::string> manifests = {
      "",
      "not xml at all",
      "<dodiru width=\"1\" height=\"1\">" + thumb + "</dodiru>",
      "<Other><Dodiru>" + thumb + "</Dodiru></Other>",
      "<Dodiru width=\"1\" height=\"1\"><thumb width=\"1\" height=\"1\" bin=\"t\"/></Dodiru>",
      "<Dodiru width=\"abc\" height=\"1\">" + thumb + "</Dodiru>",
      "<Dodiru width=\"1\" height=\"1\"><Thumb width=\" 64\" height=\"1\" bin=\"t\"/></Dodiru>",
      "<Dodiru><Thumb width=\"1\" height=\"2147483648\" bin=\"t\"/></Dodiru>",
  };
  for (const std::string& manifest : manifests) {
    MarkedImage marked;
    const Bytes document = ContainerBuilder().Manifest(manifest).Chunk(StoredChunk("t", {1, 2, 3, 4})).Build();
    EXPECT_EQ(Load(marked.image, document), LoadOutcome::NoThumbnail) << manifest;
    EXPECT_TRUE(marked.Untouched()) << manifest;
  }
}

TEST(LoadThumbnailImage, ShortHeaderOrManifestLeavesTheImageAlone) {
  const Bytes full = testing::ThumbnailDocument(1, 1, {0xFF0000FF});
  for (std::size_t length : {std::size_t{8}, std::size_t{15}, std::size_t{19}, std::size_t{20}, std::size_t{40}}) {
    MarkedImage marked;
    EXPECT_EQ(Load(marked.image, Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length))),
              LoadOutcome::NoThumbnail);
    EXPECT_TRUE(marked.Untouched()) << length;
  }
}

TEST(LoadThumbnailImage, ReadsTheFileInOrderWithoutLookingBack) {
  const Bytes document = ContainerBuilder()
                             .Manifest(ThumbManifest(1, 1, "t"))
                             .Chunk(StoredChunk("a", Bytes(10, 0)))
                             .Chunk(StoredChunk("t", PixelBytes({5})))
                             .Build();
  MemoryStream memory(document);
  testing::RecordingStream stream(memory);
  ruta::CImage32 image;
  ASSERT_EQ(LoadThumbnailImage(image, stream), LoadOutcome::Thumbnail);
  const std::string manifestRead = "read " + std::to_string(ThumbManifest(1, 1, "t").size());
  EXPECT_EQ(stream.calls, (std::vector<std::string>{"read 8", "read 4", "read 4", "read 4", manifestRead, "read 132",
                                                     "skip 10", "read 132", "read 4"}));
}

TEST(LoadThumbnailImage, ManifestsAboveTheLimitAreSkippedUnread) {
  const std::uint32_t overLimit = kMaxManifestBytes + 1;
  MarkedImage marked;
  const Bytes document = ContainerBuilder().Manifest(ThumbManifest(1, 1, "t")).ManifestLength(overLimit).Build();
  MemoryStream stream(document);
  EXPECT_EQ(LoadThumbnailImage(marked.image, stream), LoadOutcome::NoThumbnail);
  EXPECT_TRUE(marked.Untouched());
  EXPECT_EQ(stream.Position(), 20u + overLimit) << "the stream stands behind the manifest";
}

TEST(LoadThumbnailImage, HugeLengthsInATinyFileCostOnlyWhatTheFileHolds) {
  ChunkRecord lying = StoredChunk("thumb", PixelBytes({1, 2}));
  lying.decodedSize = 0xFFFFFFFFu;
  const std::vector<Bytes> documents = {
      ContainerBuilder().Manifest(ThumbManifest(1, 1, "thumb")).ManifestLength(0xFFFFFFFFu).Build(),
      ContainerBuilder().Manifest(ThumbManifest(1, 1, "thumb")).ManifestLength(kMaxManifestBytes).Build(),
      ContainerBuilder().Manifest(ThumbManifest(2, 1, "thumb")).Chunk(lying).Build(),
  };
  for (const Bytes& document : documents) {
    ruta::CImage32 image;
    EXPECT_EQ(Load(image, document), LoadOutcome::NoThumbnail);
    EXPECT_EQ(ruta::PixelCount(image) > 2, false);
  }
}

TEST(LoadThumbnailImage, EveryTruncationOfAContainerGivesADefinedImage) {
  for (bool compressed : {false, true}) {
    const auto pixels = testing::GradientPixels(3, 2);
    const Bytes document = testing::ThumbnailDocument(3, 2, pixels, compressed);
    for (std::size_t length = 0; length < document.size(); ++length) {
      ruta::CImage32 image;
      const LoadOutcome outcome =
          Load(image, Bytes(document.begin(), document.begin() + static_cast<std::ptrdiff_t>(length)));
      ASSERT_NE(image.pixels, nullptr) << length;
      if (length < 8) {
        EXPECT_EQ(outcome, LoadOutcome::Placeholder) << length;
        continue;
      }
      // Cut anywhere in the container, no pixel survives, and none is left undefined.
      EXPECT_EQ(outcome, LoadOutcome::NoThumbnail) << length;
      EXPECT_EQ(PixelsOf(image), std::vector<ruta::ArgbPixel>(PixelsOf(image).size(), 0)) << length;
    }
  }
}

TEST(LoadThumbnailImage, ThumbWithoutBinTakesTheChunkWithAnEmptyName) {
  const Bytes document = ContainerBuilder()
                             .Manifest("<Dodiru><Thumb width=\"1\" height=\"1\"/></Dodiru>")
                             .Chunk(StoredChunk("named", PixelBytes({1})))
                             .Chunk(StoredChunk("", PixelBytes({2})))
                             .Build();
  ruta::CImage32 image;
  ASSERT_EQ(Load(image, document), LoadOutcome::Thumbnail);
  EXPECT_EQ(image.pixels[0], 2u);
}

TEST(LoadThumbnailImage, ManifestEndingInATruncatedUtf8SequenceIsSafe) {
  for (const char* tail : {"\xE2", "\xF0\x9F", "\xF0"}) {
    MarkedImage marked;
    const Bytes document = ContainerBuilder().Manifest(std::string("<Dodiru>") + tail).Build();
    EXPECT_EQ(Load(marked.image, document), LoadOutcome::NoThumbnail);
  }
}

TEST(LoadThumbnailImage, MissingChunkOrPayloadGivesATransparentImageOfTheThumbSize) {
  ChunkRecord shortStored = StoredChunk("t", {1, 2});
  shortStored.decodedSize = 16;
  ChunkRecord empty = StoredChunk("t", {});
  const std::vector<Bytes> documents = {
      ContainerBuilder().Manifest(ThumbManifest(2, 2, "t")).Build(),
      ContainerBuilder().Manifest(ThumbManifest(2, 2, "t")).Chunk(StoredChunk("other", Bytes(16, 1))).Build(),
      ContainerBuilder().Manifest(ThumbManifest(2, 2, "t")).Chunk(shortStored).Build(),
      ContainerBuilder().Manifest(ThumbManifest(2, 2, "t")).Chunk(empty).Build(),
  };
  for (const Bytes& document : documents) {
    MarkedImage marked;
    EXPECT_EQ(Load(marked.image, document), LoadOutcome::NoThumbnail);
    EXPECT_EQ(marked.image.width, 2);
    EXPECT_EQ(marked.image.height, 2);
    EXPECT_EQ(PixelsOf(marked.image), std::vector<ruta::ArgbPixel>(4, 0));
  }
}

TEST(LoadThumbnailImage, TakesTheFirstThumbAndTheAttributesAsIntegers) {
  const Bytes document = ContainerBuilder()
                             .Manifest("<Dodiru width=\"\" height=\"-3\"><Thumb width=\"+2\" height=\"1\" bin=\"a\"/>"
                                       "<Thumb width=\"1\" height=\"1\" bin=\"b\"/></Dodiru>")
                             .Chunk(StoredChunk("b", PixelBytes({7})))
                             .Chunk(StoredChunk("a", PixelBytes({1, 2})))
                             .Build();
  ruta::CImage32 image;
  ASSERT_EQ(Load(image, document), LoadOutcome::Thumbnail);
  EXPECT_EQ(PixelsOf(image), (std::vector<ruta::ArgbPixel>{1, 2}));
}

TEST(LoadThumbnailImage, SidesBelowOneCopyNothingButStillSizeTheImage) {
  for (const std::string& manifest : {std::string("<Dodiru><Thumb height=\"2\" bin=\"t\"/></Dodiru>"),
                                      std::string("<Dodiru><Thumb width=\"-4\" height=\"2\" bin=\"t\"/></Dodiru>")}) {
    MarkedImage marked;
    const Bytes document = ContainerBuilder().Manifest(manifest).Chunk(StoredChunk("t", Bytes(64, 0xFF))).Build();
    EXPECT_EQ(Load(marked.image, document), LoadOutcome::NoThumbnail);
    EXPECT_EQ(marked.image.width, 1);
    EXPECT_EQ(marked.image.height, 2);
    EXPECT_EQ(PixelsOf(marked.image), std::vector<ruta::ArgbPixel>(2, 0));
  }
}

TEST(LoadThumbnailImage, RefusesHugeThumbSidesBeforeAllocating) {
  // Each side within kMaxThumbSide, but one pixel row too many for kMaxThumbPixels.
  constexpr int kSquareSide = 1 << 13;
  static_assert(std::int64_t{kSquareSide} * kSquareSide == kMaxThumbPixels);
  struct Size {
    int width;
    int height;
  };
  for (const Size size : {Size{kMaxThumbSide + 1, 1}, Size{1, kMaxThumbSide + 1}, Size{kSquareSide + 1, kSquareSide}}) {
    MarkedImage marked;
    const Bytes document =
        ContainerBuilder().Manifest(ThumbManifest(size.width, size.height, "t")).Chunk(StoredChunk("t", {1, 2, 3, 4})).Build();
    EXPECT_EQ(Load(marked.image, document), LoadOutcome::NoThumbnail) << size.width << " x " << size.height;
    EXPECT_TRUE(marked.Untouched()) << size.width << " x " << size.height;
  }
}

TEST(LoadThumbnailImage, CopiesOnlyWhatBothPayloadAndImageHold) {
  ruta::CImage32 longer;
  const Bytes longPayload = ContainerBuilder()
                                .Manifest(ThumbManifest(2, 1, "t"))
                                .Chunk(StoredChunk("t", PixelBytes({1, 2, 3, 4})))
                                .Build();
  ASSERT_EQ(Load(longer, longPayload), LoadOutcome::Thumbnail);
  EXPECT_EQ(PixelsOf(longer), (std::vector<ruta::ArgbPixel>{1, 2}));

  Bytes threePixelsAndAHalf = PixelBytes({1, 2, 3, 0xFFFFFFFF});
  threePixelsAndAHalf.resize(14);
  // A zlib stream that ends early as well as a short stored payload; each
  // loaded where an opaque white picture was just freed, so that memory left
  // unset would show.
  ChunkRecord endsEarly = testing::ZlibChunk("t", threePixelsAndAHalf);
  endsEarly.decodedSize = 24;
  for (const ChunkRecord& record : {StoredChunk("t", threePixelsAndAHalf), endsEarly}) {
    ruta::CImage32 white;
    ASSERT_EQ(Load(white, ContainerBuilder()
                              .Manifest(ThumbManifest(3, 2, "t"))
                              .Chunk(testing::ZlibChunk("t", PixelBytes(std::vector<ruta::ArgbPixel>(6, 0xFFFFFFFF))))
                              .Build()),
              LoadOutcome::Thumbnail);
    white.FreeBuffer();
    ruta::CImage32 shorter;
    const Bytes shortPayload = ContainerBuilder().Manifest(ThumbManifest(3, 2, "t")).Chunk(record).Build();
    ASSERT_EQ(Load(shorter, shortPayload), LoadOutcome::Thumbnail);
    EXPECT_EQ(PixelsOf(shorter), (std::vector<ruta::ArgbPixel>{1, 2, 3, 0xFFFF, 0, 0})) << record.compression;
  }
}

TEST(LoadThumbnailImage, LeavesTheStreamBehindTheDeliveredPayload) {
  const Bytes document = testing::ThumbnailDocument(1, 1, {9});
  Bytes twice = document;
  twice.insert(twice.end(), document.begin(), document.end());
  MemoryStream stream(twice);
  ruta::CImage32 first;
  ruta::CImage32 second;
  EXPECT_EQ(LoadThumbnailImage(first, stream), LoadOutcome::Thumbnail);
  EXPECT_EQ(stream.Position(), document.size());
  EXPECT_EQ(LoadThumbnailImage(second, stream), LoadOutcome::Thumbnail);
}

// Shell worker threads may have stacks this small.
constexpr std::size_t kShellWorkerStack = 256 * 1024;

void RunOnSmallStack(std::function<void()> work) {
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, kShellWorkerStack), 0);
  pthread_t thread;
  const auto run = [](void* job) -> void* {
    (*static_cast<std::function<void()>*>(job))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

Bytes DocumentNestedTo(std::size_t depth) {
  return ContainerBuilder()
      .Manifest(testing::ManifestNestedTo(depth))
      .Chunk(StoredChunk("thumb", PixelBytes({0xFF112233})))
      .Build();
}

TEST(LoadThumbnailImage, ManifestsNestedBeyondTheLimitAreRefusedBeforeParsing) {
  struct Case {
    std::size_t depth;
    LoadOutcome outcome;
  };
  for (const Case& c : {Case{kMaxManifestNesting, LoadOutcome::Thumbnail},
                        Case{kMaxManifestNesting + 1, LoadOutcome::NoThumbnail},
                        Case{100000, LoadOutcome::NoThumbnail}}) {
    SCOPED_TRACE(c.depth);
    const Bytes document = DocumentNestedTo(c.depth);
    RunOnSmallStack([&] {
      ruta::CImage32 image;
      EXPECT_EQ(Load(image, document), c.outcome);
    });
  }
}

TEST(ManifestNestingDepth, CountsOnlyWhatTheParserReadsAsElements) {
  struct Case {
    std::string_view text;
    std::size_t depth;
  };
  for (const Case& c : {Case{"<a><b/><c></c></a>", 2}, Case{"<a x='<b>' y=\"<c>\"><d>", 2},
                        Case{"<!-- <a><a> --><a/>", 0}, Case{"<![CDATA[<a><a>]]><a>", 1},
                        Case{"<?xml version='1.0'?><!DOCTYPE x><a></a><a>", 1},
                        Case{std::string_view("<a>\0<b><c>", 10), 1}, Case{"<a><b", 2}}) {
    EXPECT_EQ(ManifestNestingDepth(c.text), c.depth) << c.text;
  }
}

// A zlib stream that expands to 64 MiB behind a 1 x 1 Thumb.
TEST(LoadThumbnailImage, CostsThePictureNotWhatAPayloadExpandsTo) {
  Bytes expanded(64u << 20, 0);
  const Bytes pixel = PixelBytes({0xFF112233});
  std::copy(pixel.begin(), pixel.end(), expanded.begin());
  const Bytes document =
      ContainerBuilder().Manifest(ThumbManifest(1, 1, "thumb")).Chunk(testing::ZlibChunk("thumb", expanded)).Build();
  expanded = Bytes();

  ruta::CImage32 image;
  const testing::HeapPeak peak;
  EXPECT_EQ(Load(image, document), LoadOutcome::Thumbnail);
  EXPECT_LT(peak.BytesAboveStart(), document.size() + (1u << 20));
  EXPECT_EQ(PixelsOf(image), std::vector<ruta::ArgbPixel>{0xFF112233});
}

TEST(AttributeToInt, ConvertsOnlyPlainDecimalIntegers) {
  EXPECT_EQ(AttributeToInt(""), 0);
  EXPECT_EQ(AttributeToInt("+64"), 64);
  EXPECT_EQ(AttributeToInt("-2147483648"), -2147483647 - 1);
  for (const char* bad : {" 64", "64 ", "abc", "1.5", "0x10", "2147483648"}) {
    EXPECT_EQ(AttributeToInt(bad), std::nullopt) << bad;
  }
}

TEST(GetAttributeString, GivesTheValueOrEmpty) {
  TiXmlDocument document;
  document.Parse("<Thumb bin=\"a&amp;b\"/>", nullptr, TIXML_ENCODING_UNKNOWN);
  const TiXmlElement* thumb = document.FirstChildElement("Thumb");
  ASSERT_NE(thumb, nullptr);
  EXPECT_EQ(GetAttributeString(*thumb, "bin"), "a&b");
  EXPECT_EQ(GetAttributeString(*thumb, "width"), "");
}

}  // namespace
}  // namespace kvd
