#include "container_reader/container_writer.h"

#include "container_reader/utf8.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

namespace kvd {
namespace {

void PutLittleEndian32(std::uint8_t* bytes, std::uint32_t word) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(word >> (8 * i));
}

std::uint32_t RecordSize(std::size_t size) {
  if (size > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("chunk payload above 4 GiB");
  return static_cast<std::uint32_t>(size);
}

std::string Attribute(std::string_view name, std::int32_t value) {
  return std::string(name) + "=\"" + std::to_string(value) + "\"";
}

std::string RootStartTag(std::int32_t rootWidth, std::int32_t rootHeight) {
  return "<Dodiru " + Attribute("width", rootWidth) + " " + Attribute("height", rootHeight) + ">";
}

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

}  // namespace

std::vector<std::uint8_t> EncodeContainerHeader(std::uint32_t firstWord, std::uint32_t manifestLength,
                                                std::uint32_t thirdWord) {
  std::vector<std::uint8_t> header(kContainerMagic.begin(), kContainerMagic.end());
  header.resize(kContainerHeaderSize);
  PutLittleEndian32(header.data() + kContainerMagic.size(), firstWord);
  PutLittleEndian32(header.data() + kContainerMagic.size() + 4, manifestLength);
  PutLittleEndian32(header.data() + kContainerMagic.size() + 8, thirdWord);
  return header;
}

ChunkHeader EncodeChunkHeader(std::string_view name, std::uint32_t compression, std::uint32_t storedSize,
                              std::uint32_t decodedSize) {
  ChunkHeader header;
  std::copy(kChunkTag.begin(), kChunkTag.end(), header.bytes.begin());
  PutLittleEndian32(header.bytes.data() + kChunkCompressionOffset, compression);
  PutLittleEndian32(header.bytes.data() + kChunkStoredSizeOffset, storedSize);
  PutLittleEndian32(header.bytes.data() + kChunkDecodedSizeOffset, decodedSize);
  std::copy_n(name.begin(), std::min(name.size(), kChunkNameSize), header.bytes.begin() + kChunkNameOffset);
  return header;
}

std::vector<std::uint8_t> ZlibCompress(std::span<const std::uint8_t> data) {
  const uLong length = RecordSize(data.size());
  uLongf size = compressBound(length);
  std::vector<std::uint8_t> out(size);
  if (compress2(out.data(), &size, data.data(), length, Z_BEST_COMPRESSION) != Z_OK) {
    throw std::runtime_error("zlib compression failed");
  }
  out.resize(size);
  return out;
}

std::string EscapeXmlAttribute(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string ThumbManifestXml(std::int32_t rootWidth, std::int32_t rootHeight, std::int32_t thumbWidth,
                             std::int32_t thumbHeight, std::string_view bin) {
  // The manifest declares UTF-8, and the parser reads a bad sequence's lead
  // byte as the start of one: it would swallow the bytes after it, and the
  // preview's chunk would never be found.
  if (!IsValidUtf8(bin)) throw std::invalid_argument("the preview's chunk name is not valid UTF-8");
  return std::string(kXmlDeclaration) + RootStartTag(rootWidth, rootHeight) + "\n  <Thumb " +
         Attribute("width", thumbWidth) + " " + Attribute("height", thumbHeight) + " bin=\"" +
         EscapeXmlAttribute(bin) + "\"/>\n</Dodiru>\n";
}

std::string RootOnlyManifestXml(std::int32_t rootWidth, std::int32_t rootHeight) {
  return std::string(kXmlDeclaration) + RootStartTag(rootWidth, rootHeight) + "\n</Dodiru>\n";
}

ContainerWriter::ContainerWriter(std::string manifest) : manifest_(std::move(manifest)) {
  RecordSize(manifest_.size());
}

ContainerWriter& ContainerWriter::HeaderWords(std::uint32_t first, std::uint32_t third) {
  firstWord_ = first;
  thirdWord_ = third;
  return *this;
}

ContainerWriter& ContainerWriter::Chunk(std::string_view name, std::uint32_t compression,
                                        std::span<const std::uint8_t> data) {
  if (name.size() > kChunkNameSize || name.find('\0') != std::string_view::npos) {
    throw std::invalid_argument("a chunk name has at most 64 bytes and no NUL");
  }
  std::vector<std::uint8_t> payload;
  if (compression == kCompressionZlib) {
    payload = ZlibCompress(data);
  } else if (compression == kCompressionStored) {
    payload.assign(data.begin(), data.end());
  } else {
    throw std::invalid_argument("compression is stored (0) or zlib (1)");
  }
  const ChunkHeader header = EncodeChunkHeader(name, compression, RecordSize(payload.size()), RecordSize(data.size()));
  std::vector<std::uint8_t> record(header.bytes.begin(), header.bytes.end());
  record.insert(record.end(), payload.begin(), payload.end());
  records_.push_back(std::move(record));
  return *this;
}

std::vector<std::uint8_t> ContainerWriter::Bytes() const {
  std::vector<std::uint8_t> out =
      EncodeContainerHeader(firstWord_, static_cast<std::uint32_t>(manifest_.size()), thirdWord_);
  out.insert(out.end(), manifest_.begin(), manifest_.end());
  for (const auto& record : records_) out.insert(out.end(), record.begin(), record.end());
  return out;
}

void ContainerWriter::WriteTo(std::ostream& out) const {
  const std::vector<std::uint8_t> header =
      EncodeContainerHeader(firstWord_, static_cast<std::uint32_t>(manifest_.size()), thirdWord_);
  out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
  out.write(manifest_.data(), static_cast<std::streamsize>(manifest_.size()));
  for (const auto& record : records_) {
    out.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
  }
}

}  // namespace kvd
