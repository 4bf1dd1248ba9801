#pragma once

#include <optional>
#include <string>
#include <vector>

#include "container_reader/canvas_size.h"
#include "support/container_builder.h"

namespace kvd::testing {

// A document and the canvas size every reader of it must tell: the container
// reader, kvd-inspect, the property handler and the KDE extractor.
struct CanvasDocument {
  std::string name;  // also its file name, without .kvd
  Bytes bytes;
  std::optional<CanvasSize> canvas;
};

// Documents with and without a usable root size. Each one's chunk declares a
// zlib payload that does not inflate, so that a reader that opens a chunk
// cannot pass unnoticed.
std::vector<CanvasDocument> CanvasDocuments();

}  // namespace kvd::testing
