#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "container_reader/byte_buffer.h"
#include "container_reader/byte_stream.h"
#include "container_reader/container_format.h"

namespace kvd {

// The 132 bytes of a chunk record's header, exactly as read.
struct ChunkHeader {
  std::array<std::uint8_t, kChunkHeaderSize> bytes{};

  bool HasTag() const;
  std::uint32_t compression() const;
  std::uint32_t storedSize() const;
  std::uint32_t decodedSize() const;
  // The name field up to its first NUL, or all 64 bytes when it holds none.
  std::string_view name() const;
};

// Walks the chunk records from the stream's current position.
class ChunkIterator {
 public:
  explicit ChunkIterator(ByteStream& stream) : stream_(stream) {}

  // Reads the next record's header. False at the end of the records: a short
  // read, or 132 bytes that do not begin with the tag.
  bool Next(ChunkHeader& header);

  // Moves past the payload of the record just read, without reading it.
  void SkipPayload(const ChunkHeader& header);

 private:
  ByteStream& stream_;
};

// A chunk larger than this, stored or decoded, is never delivered: far above
// any real thumbnail, and low enough that a hostile size cannot exhaust memory.
inline constexpr std::uint32_t kMaxChunkBytes = 256u * 1024 * 1024;

enum class PayloadResult {
  Decoded,
  TooLarge,            // stored or decoded size above kMaxChunkBytes: not read
  Cut,                 // the stream ended inside the payload
  InflateFailed,       // not a complete zlib stream, or one that decodes beyond decodedSize
  UnknownCompression,  // neither stored nor zlib: not read
};

struct PayloadDecoding {
  PayloadResult result = PayloadResult::Decoded;
  std::uint32_t decodedLength = 0;  // Decoded: the bytes the payload decodes to
};

// Decodes the payload of the record whose header was just read, keeping the
// first keptBytes of it in payload (cleared first); the rest is still read
// (and inflated), so that it decides success exactly as a payload kept whole,
// but costs no memory. A decodedSize of 0 reads nothing and decodes to 0
// bytes, whatever the compression.
PayloadDecoding DecodeChunkPayload(ByteStream& stream, const ChunkHeader& header, ByteBuffer& payload,
                                   std::uint32_t keptBytes = kMaxChunkBytes);

// FindChunk's scan with its reason: nullopt when no record carries the name,
// else how the payload of the first one that does decoded (header and
// payload are filled as by FindChunk).
std::optional<PayloadDecoding> FindChunkDecoding(ByteStream& stream, std::string_view wantedName, ChunkHeader& header,
                                                 ByteBuffer& payload,
                                                 std::uint32_t keptBytes = kMaxChunkBytes);

// Scans the records for the first one named wantedName and delivers its
// header and decoded payload (empty when its decodedSize is 0; a zlib payload
// that decodes short holds just the produced bytes). Only the first keptBytes
// of the decoded payload are kept: the rest is still read (and inflated), so
// that it decides success exactly as a payload kept whole, but costs no
// memory. The first record with the name decides: a payload that is short,
// fails to inflate, is too large or has an unknown compression code gives
// false. The stream is left behind the delivered payload.
bool FindChunk(ByteStream& stream, std::string_view wantedName, ChunkHeader& header,
               ByteBuffer& payload, std::uint32_t keptBytes = kMaxChunkBytes);

}  // namespace kvd
