#pragma once

#include <cstdint>

namespace kvd {

// The document as the reader sees it: a forward-only source of bytes. The
// reader never rewinds it, positions it absolutely or asks for its size, and
// learns of the end of the data (or any failure) only from a short count.
class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Stores up to count bytes from the current position into buffer, moves on
  // by the number stored and returns it. Fewer than count means no more data.
  virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;

  // Moves the position count bytes forward. Past the end is allowed; the next
  // read then delivers nothing.
  virtual void Skip(std::uint32_t count) = 0;
};

}  // namespace kvd
