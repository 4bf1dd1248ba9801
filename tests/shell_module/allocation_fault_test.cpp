// Memory that runs out at any allocation of a thumbnail request, from the
// class factory to the bitmap (the images, the payload, the parser's nodes,
// the buffers): the request ends in E_OUTOFMEMORY or in a defined bitmap,
// frees everything it took, and leaves no object alive.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "container_reader/memory_stream.h"
#include "shell_module/module_exports.h"
#include "shell_module/module_state.h"
#include "support/container_builder.h"
#include "support/fake_istream.h"
#include "support/heap_counter.h"
#include "support/shell_request.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace kvd {
namespace {

using testing::Bytes;

constexpr UINT kEdge = 40;

// TinyXML links a node into the tree only once the node's own parse has
// returned, so when an allocation fails below it (operator new throws through
// the parser) the node and what it holds are lost. Nothing of ours can reach
// them; the loss is bounded by the tree of this small manifest, and happens
// only where the loader fell back to no thumbnail.
constexpr std::size_t kParserLossBound = 2048;

std::vector<std::uint8_t> Expected(const Bytes& document) {
  MemoryStream stream(document);
  return RenderThumbnailBitmap(&stream, kEdge).bits;
}

bool IsBlank(const std::vector<std::uint8_t>& bits) {
  return bits.size() == std::size_t{kEdge} * kEdge * 4 &&
         std::all_of(bits.begin(), bits.end(), [](std::uint8_t byte) { return byte == 0; });
}

TEST(AllocationFaultTest, EveryAllocationOfARequestMayFail) {
  if (!testing::AllocationFailure::Available()) GTEST_SKIP() << "the sanitizer's allocator cannot be made to fail";
  const Bytes pixels = testing::PixelBytes(testing::GradientPixels(30, 20));
  const std::vector<Bytes> documents = {
      testing::ContainerBuilder()
          .Manifest(testing::ThumbManifest(30, 20, "thumb"))
          .Chunk(testing::ZlibChunk("layer0", Bytes(5000, 1)))
          .Chunk(testing::ZlibChunk("thumb", pixels))
          .Build(),
      testing::ThumbnailDocument(30, 20, testing::GradientPixels(30, 20)),
      Bytes{'n', 'o', 't', ' ', 'k', 'v', 'd'},  // the checkerboard
  };
  for (const Bytes& document : documents) {
    const std::vector<std::uint8_t> expected = Expected(document);
    for (std::size_t nth = 1;; ++nth) {
      const std::size_t heapBefore = testing::HeapBytesInUse();
      testing::ShellAnswer answer;
      bool struck = false;
      ULONG streamReferences = 0;
      {
        testing::FakeStream stream(document);  // its own notes are freed with it
        const testing::AllocationFailure failure(nth);
        answer = testing::RequestThumbnail(stream, kEdge);
        struck = failure.Struck();
        streamReferences = stream.references;
      }
      const bool sameBits = answer.bits == expected;
      const bool blank = IsBlank(answer.bits);
      answer.bits = std::vector<std::uint8_t>();  // gives the memory back, as clear() would not
      const std::size_t heapAfter = testing::HeapBytesInUse();
      const std::string where = "allocation " + std::to_string(nth) + " failed";
      if (answer.result == S_OK) {
        // The loader gives up on a document it lacks the memory for: no thumbnail.
        EXPECT_TRUE(sameBits || blank) << where;
      } else {
        EXPECT_EQ(answer.result, E_OUTOFMEMORY) << where;
      }
      const std::size_t lost = heapAfter - heapBefore;
      if (answer.result == S_OK && blank && !sameBits) {
        EXPECT_LE(lost, kParserLossBound) << where;
      } else {
        EXPECT_EQ(lost, 0u) << where << ": heap bytes left behind";
      }
      EXPECT_EQ(g_moduleUsageCount, 0) << where;
      EXPECT_EQ(streamReferences, 1u) << where;
      if (!struck) {
        EXPECT_TRUE(answer.result == S_OK && sameBits) << "the undisturbed request";
        ASSERT_GT(nth, 5u) << "a request makes more allocations than that";
        break;
      }
    }
  }
}

}  // namespace
}  // namespace kvd
