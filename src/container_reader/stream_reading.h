#pragma once

#include <cstdint>

#include "container_reader/byte_buffer.h"
#include "container_reader/byte_stream.h"

namespace kvd {

// Reads count bytes into out, which grows only as bytes arrive: a length field
// claiming gigabytes in a short file costs no more memory than the file holds.
// Returns true when all count bytes were delivered; out then holds exactly
// them. On false out holds what arrived (or less, if memory ran out).
bool ReadGrowing(ByteStream& stream, std::uint32_t count, ByteBuffer& out);

// Reads count bytes and drops them, holding at most one small piece at a time.
// True when all count bytes were delivered.
bool ReadAndDrop(ByteStream& stream, std::uint32_t count);

}  // namespace kvd
