#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "container_reader/chunk_reader.h"
#include "container_reader/container_format.h"

namespace kvd {

// Writes .kvd containers in the layout drawn in container_format.h: what the
// reader beside it reads back. Used by kvd-pack, by the tests, the fuzz seeds
// and the benchmark inputs.

// The 20 bytes in front of the manifest.
std::vector<std::uint8_t> EncodeContainerHeader(std::uint32_t firstWord, std::uint32_t manifestLength,
                                                std::uint32_t thirdWord);

// A chunk header with the tag and these fields; every other byte is 0. A name
// longer than the 64-byte field is cut to it.
ChunkHeader EncodeChunkHeader(std::string_view name, std::uint32_t compression, std::uint32_t storedSize,
                              std::uint32_t decodedSize);

// One zlib stream of data, at the best compression. Throws std::runtime_error
// when zlib fails, std::length_error when data are too long for a record.
std::vector<std::uint8_t> ZlibCompress(std::span<const std::uint8_t> data);

// The manifest of a document of rootWidth x rootHeight whose stored preview of
// thumbWidth x thumbHeight pixels lies in the chunk named bin. Throws
// std::invalid_argument when bin is not valid UTF-8, the manifest's encoding.
std::string ThumbManifestXml(std::int32_t rootWidth, std::int32_t rootHeight, std::int32_t thumbWidth,
                             std::int32_t thumbHeight, std::string_view bin);
// A manifest with the root element only: a document without a stored preview.
std::string RootOnlyManifestXml(std::int32_t rootWidth, std::int32_t rootHeight);

// Escapes text for an XML attribute value in double quotes.
std::string EscapeXmlAttribute(std::string_view text);

// A container assembled in memory: the manifest, then chunk records in the
// order they are added, each with sizes that match its payload.
class ContainerWriter {
 public:
  explicit ContainerWriter(std::string manifest);

  ContainerWriter& HeaderWords(std::uint32_t first, std::uint32_t third);

  // Adds a record holding data, stored as it is or zlib-compressed. Throws
  // std::invalid_argument for a name that does not fit the 64-byte field or
  // holds a NUL (the reader could not find it), for a compression other than
  // stored or zlib, and std::length_error for data too long for a record.
  ContainerWriter& Chunk(std::string_view name, std::uint32_t compression, std::span<const std::uint8_t> data);

  std::vector<std::uint8_t> Bytes() const;
  // Writes the same bytes to out; the caller checks the stream's state.
  void WriteTo(std::ostream& out) const;

 private:
  std::string manifest_;
  std::uint32_t firstWord_ = 1;
  std::uint32_t thirdWord_ = 0;
  std::vector<std::vector<std::uint8_t>> records_;
};

}  // namespace kvd
