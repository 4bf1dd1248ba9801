#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "container_reader/byte_buffer.h"

namespace kvd {

// Inflates one zlib stream (zlib wrapper only: no gzip, no raw deflate).
// Succeeds only when the whole stream, Adler-32 trailer included, lies in
// source and its data fit in capacity bytes; bytes after the stream are
// ignored. On success gives the length of the inflated data, of which
// destination holds the first keptBytes (all of them when fewer). destination
// grows with the inflated data and what lies beyond keptBytes is inflated into
// a small scratch piece and dropped, so neither a lying capacity nor a stream
// that expands a thousandfold costs more memory than the bytes kept.
std::optional<std::uint32_t> InflateBuffer(std::span<const std::uint8_t> source,
                                           ByteBuffer& destination, std::uint32_t capacity,
                                           std::uint32_t keptBytes);

}  // namespace kvd
