#include "container_reader/canvas_size.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "container_reader/container_format.h"
#include "container_reader/memory_stream.h"
#include "support/canvas_documents.h"

namespace kvd {
namespace {

// Notes the furthest byte of the document that was read.
class ReachStream final : public ByteStream {
 public:
  explicit ReachStream(std::vector<std::uint8_t> bytes) : inner_(std::move(bytes)) {}
  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    const std::uint32_t delivered = inner_.Read(buffer, count);
    furthest = std::max(furthest, inner_.Position());
    return delivered;
  }
  void Skip(std::uint32_t count) override { inner_.Skip(count); }
  bool ReadFailed() const override { return false; }

  std::uint64_t furthest = 0;

 private:
  MemoryStream inner_;
};

// Where the chunk records begin, by the document's own header words.
std::uint64_t FirstChunkOffset(const testing::Bytes& document) {
  if (document.size() < kContainerHeaderSize) return document.size();
  return kContainerHeaderSize + std::uint64_t{ReadLittleEndian32(document.data() + 12)};
}

TEST(ReadCanvasSize, TellsTheRootSizeOnlyWhenBothSidesArePositiveWholeNumbers) {
  for (const testing::CanvasDocument& document : testing::CanvasDocuments()) {
    ReachStream stream(document.bytes);
    EXPECT_EQ(ReadCanvasSize(stream), document.canvas) << document.name;
    EXPECT_LE(stream.furthest, FirstChunkOffset(document.bytes)) << document.name << ": a chunk was read";
  }
}

}  // namespace
}  // namespace kvd
