#pragma once

#include <cstdint>
#include <optional>

#include "container_reader/byte_stream.h"
#include "container_reader/manifest.h"

namespace kvd {

// The size of the painting itself, as the root Dodiru element's width and
// height declare it: what Explorer, the KDE metadata extractor and kvd-inspect
// show. Unrelated to the stored preview's size.
struct CanvasSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;

  bool operator==(const CanvasSize&) const = default;
};

// The canvas size of a parsed manifest: nullopt unless it has a root whose
// width and height both convert to whole numbers of at least 1.
std::optional<CanvasSize> CanvasSizeOf(const ManifestFields& fields);

// Reads the magic, the header words and the manifest from the stream's
// current position, and nothing behind them: no chunk is ever read or
// inflated. nullopt unless the document is a container whose root carries a
// width and a height that both convert to whole numbers of at least 1; a size
// is never made up; a failed read, which cuts the manifest short, gives none
// either (the stream's ReadFailed tells it apart). Throws nothing.
std::optional<CanvasSize> ReadCanvasSize(ByteStream& stream);

}  // namespace kvd
