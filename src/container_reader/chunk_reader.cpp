#include "container_reader/chunk_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "container_reader/inflate.h"
#include "container_reader/stream_reading.h"

namespace kvd {

bool ChunkHeader::HasTag() const { return std::equal(kChunkTag.begin(), kChunkTag.end(), bytes.begin()); }

std::uint32_t ChunkHeader::compression() const {
  return ReadLittleEndian32(bytes.data() + kChunkCompressionOffset);
}

std::uint32_t ChunkHeader::storedSize() const {
  return ReadLittleEndian32(bytes.data() + kChunkStoredSizeOffset);
}

std::uint32_t ChunkHeader::decodedSize() const {
  return ReadLittleEndian32(bytes.data() + kChunkDecodedSizeOffset);
}

std::string_view ChunkHeader::name() const {
  const auto* field = reinterpret_cast<const char*>(bytes.data() + kChunkNameOffset);
  const void* nul = std::memchr(field, '\0', kChunkNameSize);
  const std::size_t length =
      nul == nullptr ? kChunkNameSize : static_cast<std::size_t>(static_cast<const char*>(nul) - field);
  return {field, length};
}

bool ChunkIterator::Next(ChunkHeader& header) {
  if (stream_.Read(header.bytes.data(), kChunkHeaderSize) < kChunkHeaderSize) return false;
  return header.HasTag();
}

void ChunkIterator::SkipPayload(const ChunkHeader& header) { stream_.Skip(header.storedSize()); }

namespace {

bool IsOversized(const ChunkHeader& header) {
  return header.decodedSize() > kMaxChunkBytes || header.storedSize() > kMaxChunkBytes;
}

PayloadResult ReadStoredPayload(ByteStream& stream, const ChunkHeader& header, std::uint32_t keptBytes,
                                ByteBuffer& payload) {
  const std::uint32_t kept = std::min(header.decodedSize(), keptBytes);
  const bool complete = ReadGrowing(stream, kept, payload) && ReadAndDrop(stream, header.decodedSize() - kept);
  return complete ? PayloadResult::Decoded : PayloadResult::Cut;
}

PayloadDecoding InflatePayload(ByteStream& stream, const ChunkHeader& header, std::uint32_t keptBytes,
                               ByteBuffer& payload) {
  ByteBuffer compressed;
  if (!ReadGrowing(stream, header.storedSize(), compressed)) return {PayloadResult::Cut};
  const std::optional<std::uint32_t> length = InflateBuffer(compressed, payload, header.decodedSize(), keptBytes);
  if (!length) return {PayloadResult::InflateFailed};
  return {PayloadResult::Decoded, *length};
}

}  // namespace

PayloadDecoding DecodeChunkPayload(ByteStream& stream, const ChunkHeader& header, ByteBuffer& payload,
                                   std::uint32_t keptBytes) {
  payload.clear();
  if (IsOversized(header)) return {PayloadResult::TooLarge};
  if (header.decodedSize() == 0) return {PayloadResult::Decoded, 0};
  switch (header.compression()) {
    case kCompressionStored: {
      const PayloadResult result = ReadStoredPayload(stream, header, keptBytes, payload);
      return {result, result == PayloadResult::Decoded ? header.decodedSize() : 0};
    }
    case kCompressionZlib:
      return InflatePayload(stream, header, keptBytes, payload);
    default:
      return {PayloadResult::UnknownCompression};
  }
}

std::optional<PayloadDecoding> FindChunkDecoding(ByteStream& stream, std::string_view wantedName, ChunkHeader& header,
                                                 ByteBuffer& payload, std::uint32_t keptBytes) {
  ChunkIterator records(stream);
  ChunkHeader record;
  while (records.Next(record)) {
    if (record.name() != wantedName) {
      records.SkipPayload(record);
      continue;
    }
    header = record;
    ByteBuffer decoded;
    const PayloadDecoding decoding = DecodeChunkPayload(stream, record, decoded, keptBytes);
    if (decoding.result == PayloadResult::Decoded) payload = std::move(decoded);
    return decoding;
  }
  return std::nullopt;
}

bool FindChunk(ByteStream& stream, std::string_view wantedName, ChunkHeader& header,
               ByteBuffer& payload, std::uint32_t keptBytes) {
  const std::optional<PayloadDecoding> decoding = FindChunkDecoding(stream, wantedName, header, payload, keptBytes);
  return decoding && decoding->result == PayloadResult::Decoded;
}

}  // namespace kvd
