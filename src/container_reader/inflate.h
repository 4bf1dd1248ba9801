#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kvd {

// Inflates one zlib stream (zlib wrapper only: no gzip, no raw deflate).
// Succeeds only when the whole stream, Adler-32 trailer included, lies in
// source and its data fit in capacity bytes; bytes after the stream are
// ignored. destination grows with the inflated data, so a lying capacity costs
// nothing; on success it holds exactly the produced bytes.
bool InflateBuffer(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& destination,
                   std::uint32_t capacity);

}  // namespace kvd
