// Hostile documents of a few KiB each, rendered whole: whatever sizes they
// claim, the heap never holds more than kHostileHeapBound beyond what it held
// before. The one exception is a Thumb within the limits, which is honoured:
// its image costs width x height x 4 bytes, at most kMaxThumbPixels x 4
// (256 MiB).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "container_reader/chunk_reader.h"
#include "container_reader/container_header.h"
#include "container_reader/memory_stream.h"
#include "container_reader/thumbnail_loader.h"
#include "support/container_builder.h"
#include "support/heap_counter.h"
#include "thumbnail_provider/preview_pipeline.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace kvd {
namespace {

using testing::Bytes;
using testing::ChunkRecord;
using testing::ContainerBuilder;
using testing::ThumbManifest;

constexpr std::size_t kHostileHeapBound = 64u << 20;
constexpr std::uint32_t kEdge = 256;  // the shell's large icons
constexpr std::uint32_t kFourGiB = 0xFFFFFFFFu;

struct Hostile {
  std::string name;
  Bytes document;
  std::size_t allowedImageBytes = 0;  // the honoured Thumb's image, beyond the bound
};

// 96 MiB of zeros, which deflate a thousandfold to about 96 KiB.
const ChunkRecord& ZlibBomb() {
  static const ChunkRecord bomb = testing::ZlibChunk("thumb", Bytes(96u << 20, 0));
  return bomb;
}

ChunkRecord ZlibBomb(std::uint32_t claimedSize) {
  ChunkRecord bomb = ZlibBomb();
  bomb.decodedSize = claimedSize;
  return bomb;
}

ChunkRecord ClaimingChunk(std::string name, std::optional<std::uint32_t> storedSize,
                          std::optional<std::uint32_t> decodedSize) {
  ChunkRecord record = testing::StoredChunk(std::move(name), Bytes(64, 0x55));
  record.storedSize = storedSize;
  record.decodedSize = decodedSize;
  return record;
}

Bytes WithThumb(int width, int height, ChunkRecord record) {
  return ContainerBuilder().Manifest(ThumbManifest(width, height, "thumb")).Chunk(std::move(record)).Build();
}

std::vector<Hostile> HostileDocuments() {
  constexpr int kSquareSide = 1 << 13;  // kSquareSide^2 == kMaxThumbPixels: the largest honoured Thumb
  static_assert(std::int64_t{kSquareSide} * kSquareSide == kMaxThumbPixels);
  return {
      {"4 GiB manifest", ContainerBuilder().Manifest(ThumbManifest(16, 16, "thumb")).ManifestLength(kFourGiB).Build()},
      {"manifest at the limit",
       ContainerBuilder().Manifest(ThumbManifest(16, 16, "thumb")).ManifestLength(kMaxManifestBytes).Build()},
      {"4 GiB stored size", WithThumb(16, 16, ClaimingChunk("thumb", kFourGiB, std::nullopt))},
      {"stored size at the limit", WithThumb(16, 16, ClaimingChunk("thumb", kMaxChunkBytes, kMaxChunkBytes))},
      {"4 GiB decoded size", WithThumb(16, 16, ClaimingChunk("thumb", std::nullopt, kFourGiB))},
      {"zlib bomb", WithThumb(16, 16, ZlibBomb(kMaxChunkBytes))},
      {"zlib bomb claiming less", WithThumb(16, 16, ZlibBomb(1024))},
      {"zlib bomb behind a large Thumb", WithThumb(2048, 2048, ZlibBomb(kMaxChunkBytes)), 2048u * 2048 * 4},
      {"side beyond the limit", WithThumb(kMaxThumbSide + 1, 1, testing::StoredChunk("thumb", Bytes(64, 1)))},
      {"pixel count beyond the limit",
       WithThumb(kSquareSide + 1, kSquareSide, testing::StoredChunk("thumb", Bytes(64, 1)))},
      {"largest honoured Thumb", WithThumb(kSquareSide, kSquareSide, testing::StoredChunk("thumb", Bytes(64, 1))),
       static_cast<std::size_t>(kMaxThumbPixels) * 4},
      {"4 GiB skip", ContainerBuilder()
                         .Manifest(ThumbManifest(16, 16, "thumb"))
                         .Chunk(ClaimingChunk("layer", kFourGiB, kFourGiB))
                         .Chunk(testing::StoredChunk("thumb", Bytes(1024, 2)))
                         .Build()},
  };
}

TEST(HostileMemoryTest, PeakHeapStaysBoundedWhateverTheFileClaims) {
  for (const Hostile& hostile : HostileDocuments()) {
    EXPECT_LT(hostile.document.size(), 128u * 1024) << hostile.name << ": a hostile file is small";
    MemoryStream stream(hostile.document);
    const testing::HeapPeak peak;
    const ThumbnailBitmap bitmap = RenderThumbnailBitmap(&stream, kEdge);
    EXPECT_EQ(bitmap.result.status, RenderStatus::Ok) << hostile.name;
    EXPECT_LT(peak.BytesAboveStart(), kHostileHeapBound + hostile.allowedImageBytes) << hostile.name;
  }
}

// The pane keeps its document while it is shown and renders it afresh at
// every new size: it too pays for the file's bytes, not the declared picture.
TEST(HostileMemoryTest, PreviewPaneCostsTheFilesBytesWhileShown) {
  constexpr int kSquareSide = 1 << 13;
  constexpr std::int32_t kPaneWidth = 1920;
  constexpr std::int32_t kPaneHeight = 1080;
  const Bytes document = WithThumb(kSquareSide, kSquareSide, testing::StoredChunk("thumb", Bytes(64, 1)));
  MemoryStream stream(document);
  const testing::HeapPeak peak;
  const std::size_t before = testing::HeapBytesInUse();
  PreviewDocument shown;
  ReadPreviewDocument(stream, shown);
  ruta::CImage32 canvas;
  EXPECT_EQ(RenderPreview(shown.Picture(), kPaneWidth, kPaneHeight, 0, canvas), RenderStatus::Ok);
  EXPECT_EQ(shown.outcome, LoadOutcome::Thumbnail);
  EXPECT_LT(peak.BytesAboveStart(), kHostileHeapBound);
  EXPECT_LT(testing::HeapBytesInUse() - before, kHostileHeapBound);
}

}  // namespace
}  // namespace kvd
