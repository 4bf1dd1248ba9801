#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "container_reader/byte_stream.h"

namespace kvd {

// The reading of a container's front: magic, header words, manifest text
// (layout in container_format.h). The loader reads through these, and so does
// every tool that shows them.

// A manifest is a few hundred bytes of XML; one above this is not parsed, so
// that a hostile length cannot make the parser chew through memory.
inline constexpr std::uint32_t kMaxManifestBytes = 16u * 1024 * 1024;

// Reads 8 bytes; true when they are the container magic.
bool ReadMagic(ByteStream& stream);

struct HeaderWords {
  std::uint32_t first = 0;
  std::uint32_t manifestLength = 0;
  std::uint32_t third = 0;
};

// Reads the three header words, one at a time as they stand in the file;
// nullopt when the stream ends before all three.
std::optional<HeaderWords> ReadHeaderWords(ByteStream& stream);

enum class ManifestRead {
  Complete,
  TooLong,  // above kMaxManifestBytes: skipped, not read
  Cut,      // the stream ended inside it
};

struct ManifestText {
  ManifestRead result = ManifestRead::Complete;
  std::uint32_t delivered = 0;  // bytes the stream delivered
  // The bytes delivered (TooLong: none), then a NUL and zero padding for the parser.
  std::vector<char> text;
};

// Reads the manifest of manifestLength bytes that follows the header words.
// The stream stands behind the manifest afterwards, unless it ended inside.
ManifestText ReadManifestText(ByteStream& stream, std::uint32_t manifestLength);

}  // namespace kvd
