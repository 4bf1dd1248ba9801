#include "container_reader/chunk_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "container_reader/inflate.h"
#include "container_reader/memory_stream.h"
#include "support/container_builder.h"
#include "support/recording_stream.h"

namespace kvd {
namespace {

using testing::Bytes;
using testing::ChunkRecord;
using testing::RecordingStream;
using testing::StoredChunk;
using testing::ZlibChunk;

// The chunk records alone, as FindChunk sees them behind the manifest.
Bytes Records(std::initializer_list<ChunkRecord> records) {
  Bytes out;
  for (const ChunkRecord& record : records) {
    const Bytes container = testing::ContainerBuilder().Chunk(record).Build();
    out.insert(out.end(), container.begin() + 20, container.end());
  }
  return out;
}

struct Found {
  bool found = false;
  ChunkHeader header;
  Bytes payload;
};

Bytes AsBytes(const ByteBuffer& buffer) { return {buffer.begin(), buffer.end()}; }

Found Find(MemoryStream& stream, std::string_view name) {
  Found result;
  ByteBuffer payload;
  result.found = FindChunk(stream, name, result.header, payload);
  result.payload = AsBytes(payload);
  return result;
}

TEST(FindChunk, SkipsOtherChunksBySeekAndStopsBehindThePayload) {
  MemoryStream memory(Records({StoredChunk("a", Bytes(10, 0xAA)), StoredChunk("t", {1, 2, 3}),
                               StoredChunk("z", {9})}));
  RecordingStream stream(memory);
  ChunkHeader header;
  ByteBuffer payload;
  ASSERT_TRUE(FindChunk(stream, "t", header, payload));
  EXPECT_EQ(AsBytes(payload), (Bytes{1, 2, 3}));
  EXPECT_EQ(header.name(), "t");
  EXPECT_EQ(stream.calls, (std::vector<std::string>{"read 132", "skip 10", "read 132", "read 3"}));
  EXPECT_EQ(memory.Position(), 132u + 10 + 132 + 3);
}

TEST(FindChunk, ComparesNamesExactly) {
  const Bytes records = Records({StoredChunk("t", {1})});
  for (std::string_view wanted : {"T", "t ", "", "tt"}) {
    MemoryStream stream(records);
    EXPECT_FALSE(Find(stream, wanted).found) << '"' << wanted << '"';
  }
}

TEST(FindChunk, EmptyNameFindsTheFirstRecordWithAnEmptyName) {
  MemoryStream stream(Records({StoredChunk("x", {1}), StoredChunk("", {2}), StoredChunk("", {3})}));
  const Found found = Find(stream, "");
  ASSERT_TRUE(found.found);
  EXPECT_EQ(found.payload, Bytes{2});
}

TEST(FindChunk, FullSixtyFourByteNameMatchesOnlyAllOfIt) {
  const std::string longName(64, 'n');
  const Bytes records = Records({StoredChunk(longName, {7})});
  MemoryStream exact(records);
  EXPECT_TRUE(Find(exact, longName).found);
  MemoryStream shorter(records);
  EXPECT_FALSE(Find(shorter, longName.substr(0, 63)).found);
}

TEST(FindChunk, FirstRecordWithTheNameDecides) {
  ChunkRecord broken = ZlibChunk("t", {1, 2});
  broken.storedPayload[0] ^= 0xFF;  // not a zlib header
  MemoryStream stream(Records({StoredChunk("t", {4}), StoredChunk("t", {5})}));
  EXPECT_EQ(Find(stream, "t").payload, Bytes{4});
  MemoryStream brokenFirst(Records({broken, StoredChunk("t", {5})}));
  EXPECT_FALSE(Find(brokenFirst, "t").found);
}

TEST(FindChunk, ZeroDecodedSizeIsFoundWithoutPayloadAndReadsNothingMore) {
  for (std::uint32_t compression : {0u, 1u, 7u}) {
    ChunkRecord record = StoredChunk("t", {1, 2, 3});
    record.compression = compression;
    record.decodedSize = 0;
    MemoryStream memory(Records({record}));
    RecordingStream stream(memory);
    ChunkHeader header;
    ByteBuffer payload{42};
    ASSERT_TRUE(FindChunk(stream, "t", header, payload));
    EXPECT_TRUE(payload.empty());
    EXPECT_EQ(stream.calls, std::vector<std::string>{"read 132"});
  }
}

TEST(FindChunk, EndsAtARecordWithoutTheTagOrAShortHeader) {
  ChunkRecord untagged = StoredChunk("t", {1});
  untagged.tag = std::string("PAC\0", 4);
  MemoryStream noTag(Records({untagged}));
  EXPECT_FALSE(Find(noTag, "t").found);
  EXPECT_EQ(noTag.Position(), 132u);

  Bytes cut = Records({StoredChunk("t", {1})});
  cut.resize(131);
  MemoryStream shortHeader(cut);
  EXPECT_FALSE(Find(shortHeader, "t").found);

  ChunkRecord overlong = StoredChunk("a", {1});
  overlong.storedSize = 1000;
  MemoryStream skippedPastEnd(Records({overlong, StoredChunk("t", {1})}));
  EXPECT_FALSE(Find(skippedPastEnd, "t").found);
}

TEST(FindChunk, ShortStoredPayloadIsNotDelivered) {
  ChunkRecord record = StoredChunk("t", {1, 2, 3});
  record.decodedSize = 4;
  MemoryStream stream(Records({record}));
  Found found = Find(stream, "t");
  EXPECT_FALSE(found.found);
  EXPECT_TRUE(found.payload.empty());
}

TEST(FindChunk, DeliversZlibPayloads) {
  const Bytes data = testing::PixelBytes(testing::GradientPixels(40, 30));
  MemoryStream stream(Records({ZlibChunk("a", {5, 5}), ZlibChunk("t", data)}));
  const Found found = Find(stream, "t");
  ASSERT_TRUE(found.found);
  EXPECT_EQ(found.payload, data);
  EXPECT_EQ(found.header.compression(), 1u);
}

TEST(FindChunk, ZlibPayloadThatDecodesShortIsDeliveredAsProduced) {
  ChunkRecord record = ZlibChunk("t", {1, 2, 3});
  record.decodedSize = 100;
  MemoryStream stream(Records({record}));
  const Found found = Find(stream, "t");
  ASSERT_TRUE(found.found);
  EXPECT_EQ(found.payload, (Bytes{1, 2, 3}));
}

TEST(FindChunk, RefusesBadZlibPayloads) {
  ChunkRecord tooLarge = ZlibChunk("t", Bytes(100, 9));
  tooLarge.decodedSize = 99;
  ChunkRecord gzip = StoredChunk("t", {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  gzip.compression = 1;
  gzip.decodedSize = 10;
  ChunkRecord truncated = ZlibChunk("t", Bytes(100, 9));
  truncated.storedPayload.pop_back();  // loses a byte of the Adler-32 trailer
  truncated.storedSize = static_cast<std::uint32_t>(truncated.storedPayload.size());
  ChunkRecord missingBytes = ZlibChunk("t", Bytes(100, 9));
  missingBytes.storedSize = static_cast<std::uint32_t>(missingBytes.storedPayload.size() + 1);
  ChunkRecord corrupt = ZlibChunk("t", Bytes(100, 9));
  corrupt.storedPayload.back() ^= 0xFF;
  for (const ChunkRecord& record : {tooLarge, gzip, truncated, missingBytes, corrupt}) {
    MemoryStream stream(Records({record}));
    const Found found = Find(stream, "t");
    EXPECT_FALSE(found.found);
    EXPECT_TRUE(found.payload.empty());
  }
}

TEST(FindChunk, UnknownCompressionEndsTheScan) {
  ChunkRecord odd = StoredChunk("t", {1, 2, 3, 4});
  odd.compression = 2;
  MemoryStream stream(Records({odd, StoredChunk("t", {5})}));
  EXPECT_FALSE(Find(stream, "t").found);
}

TEST(FindChunk, RefusesChunksAboveTheSizeLimitWithoutAllocatingThem) {
  ChunkRecord huge = StoredChunk("t", {1, 2, 3});
  huge.decodedSize = kMaxChunkBytes + 1;
  MemoryStream stream(Records({huge}));
  EXPECT_FALSE(Find(stream, "t").found);

  ChunkRecord hugeStored = ZlibChunk("t", {1, 2, 3});
  hugeStored.storedSize = kMaxChunkBytes + 1;
  MemoryStream compressed(Records({hugeStored}));
  EXPECT_FALSE(Find(compressed, "t").found);

  ChunkRecord hugeButEmpty = StoredChunk("t", {});
  hugeButEmpty.storedSize = kMaxChunkBytes + 1;
  MemoryStream empty(Records({hugeButEmpty}));
  EXPECT_FALSE(Find(empty, "t").found) << "the size limits come before the empty-payload answer";

  // At the limit a lying size costs only what the file delivers.
  ChunkRecord lying = StoredChunk("t", {1, 2, 3});
  lying.decodedSize = kMaxChunkBytes;
  MemoryStream atLimit(Records({lying}));
  EXPECT_FALSE(Find(atLimit, "t").found);
}

Bytes Deflate(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  EXPECT_EQ(compress(out.data(), &size, data.data(), static_cast<uLong>(data.size())), Z_OK);
  out.resize(size);
  return out;
}

// Keeping fewer bytes must not change which streams succeed: the rest is
// still inflated and checked against the capacity and the trailer.
TEST(InflateBuffer, SucceedsExactlyWhenTheDataFitTheCapacityWhateverIsKept) {
  Bytes data(300000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>((i * 31) >> 5);
  const Bytes compressed = Deflate(data);
  Bytes corrupt = compressed;
  corrupt[corrupt.size() - 1] ^= 1;  // Adler-32
  const auto size = static_cast<std::uint32_t>(data.size());
  for (const std::uint32_t kept : {size, 70000u, 1u, 0u}) {
    SCOPED_TRACE(kept);
    ByteBuffer out;
    EXPECT_EQ(InflateBuffer(compressed, out, size, kept), size);
    EXPECT_EQ(AsBytes(out), Bytes(data.begin(), data.begin() + kept));
    EXPECT_EQ(InflateBuffer(compressed, out, 0xFFFFFFFFu, kept), size);
    EXPECT_EQ(out.size(), kept);
    EXPECT_FALSE(InflateBuffer(compressed, out, size - 1, kept));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(InflateBuffer(corrupt, out, size, kept));
  }
}

TEST(InflateBuffer, IgnoresBytesAfterTheStream) {
  Bytes compressed = Deflate({1, 2, 3});
  compressed.insert(compressed.end(), {0xFF, 0xFF, 0xFF});
  ByteBuffer out;
  ASSERT_TRUE(InflateBuffer(compressed, out, 3, 3));
  EXPECT_EQ(AsBytes(out), (Bytes{1, 2, 3}));
}

// The zlib header is checked apart from zlib: every variant of the two
// bytes (window size, method, check bits, preset dictionary) succeeds or
// fails as it does in zlib's uncompress.
TEST(InflateBuffer, AcceptsExactlyTheHeadersZlibAccepts) {
  const Bytes data(1000, 7);
  const Bytes compressed = Deflate(data);
  for (unsigned first = 0; first < 256; ++first) {
    for (unsigned flags : {0x00u, 0x20u, 0xC0u}) {
      Bytes stream = compressed;
      stream[0] = static_cast<std::uint8_t>(first);
      stream[1] = static_cast<std::uint8_t>(flags + 31 - (first * 256 + flags) % 31);  // valid check bits
      for (const std::uint8_t checkBits : {stream[1], static_cast<std::uint8_t>(stream[1] ^ 1)}) {
        stream[1] = checkBits;
        Bytes zlibOut(data.size());
        uLongf zlibSize = static_cast<uLongf>(zlibOut.size());
        const bool zlibAccepts =
            uncompress(zlibOut.data(), &zlibSize, stream.data(), static_cast<uLong>(stream.size())) == Z_OK;
        ByteBuffer out;
        EXPECT_EQ(InflateBuffer(stream, out, 1000, 1000).has_value(), zlibAccepts) << first << " " << +checkBits;
      }
    }
  }
}

TEST(InflateBuffer, FailsOnEmptyInputAndOnRawDeflate) {
  ByteBuffer out;
  EXPECT_FALSE(InflateBuffer({}, out, 10, 10));
  const Bytes compressed = Deflate({1, 2, 3});
  const Bytes raw(compressed.begin() + 2, compressed.end() - 4);
  EXPECT_FALSE(InflateBuffer(raw, out, 10, 10));
}

TEST(ChunkIterator, WalksEveryRecordInFileOrder) {
  MemoryStream stream(Records({StoredChunk("one", {1}), ZlibChunk("two", Bytes(50, 2)), StoredChunk("three", {})}));
  ChunkIterator records(stream);
  ChunkHeader header;
  std::vector<std::string> names;
  while (records.Next(header)) {
    names.emplace_back(header.name());
    records.SkipPayload(header);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"one", "two", "three"}));
}

}  // namespace
}  // namespace kvd
