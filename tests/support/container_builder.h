#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvd::testing {

using Bytes = std::vector<std::uint8_t>;

// One chunk record. The sizes default to the payload as given: storedSize to
// its length, decodedSize to the length of the decoded bytes.
struct ChunkRecord {
  std::string name;
  std::uint32_t compression = 0;
  Bytes storedPayload;
  std::optional<std::uint32_t> storedSize;
  std::optional<std::uint32_t> decodedSize;
  std::string tag = "PAC ";
};

ChunkRecord StoredChunk(std::string name, Bytes payload);
// The payload is zlib-compressed here; decodedSize is its uncompressed length.
ChunkRecord ZlibChunk(std::string name, const Bytes& payload);

// Builds .kvd containers for tests, fuzz seeds and benchmarks, so that a test
// reads as the document it describes. The bytes come from the container
// writer; this layer adds only what a writer must never do: lying lengths,
// wrong tags, raw bytes. Documents that need none of it can use
// kvd::ContainerWriter directly.
class ContainerBuilder {
 public:
  ContainerBuilder& Manifest(std::string xml);
  // Overrides the manifestLength word, which otherwise is the manifest's length.
  ContainerBuilder& ManifestLength(std::uint32_t length);
  ContainerBuilder& HeaderWords(std::uint32_t first, std::uint32_t third);
  ContainerBuilder& Chunk(ChunkRecord record);
  ContainerBuilder& Raw(const Bytes& bytes);

  Bytes Build() const;

 private:
  std::string manifest_;
  std::optional<std::uint32_t> manifestLength_;
  std::uint32_t firstWord_ = 1;
  std::uint32_t thirdWord_ = 0;
  Bytes tail_;
};

// <Dodiru width="1" height="1"><Thumb width=".." height=".." bin=".."/></Dodiru>
std::string ThumbManifest(int width, int height, const std::string& bin);

// A manifest whose 1 x 1 Thumb, named "thumb", sits beside a chain of elements
// that brings the manifest's nesting to depth.
std::string ManifestNestedTo(std::size_t depth);

// The payload bytes of a picture: each pixel word little-endian.
Bytes PixelBytes(const std::vector<std::uint32_t>& pixels);

// A complete container holding a width x height thumbnail in chunk "thumb".
Bytes ThumbnailDocument(int width, int height, const std::vector<std::uint32_t>& pixels,
                        bool compressed = false);

// A width x height picture whose every pixel differs, handy for exact checks.
std::vector<std::uint32_t> GradientPixels(int width, int height);

}  // namespace kvd::testing
