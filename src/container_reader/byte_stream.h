#pragma once

#include <cstdint>

namespace kvd {

// The document as the reader sees it: a forward-only source of bytes. The
// reader never rewinds it, positions it absolutely or asks for its size. It
// stops at the first short count; only afterwards does it ask whether the data
// ended there or a read failed.
class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Stores up to count bytes from the current position into buffer, moves on
  // by the number stored and returns it. Fewer than count means no more data,
  // or a failed read when ReadFailed says so.
  virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;

  // Moves the position count bytes forward. Past the end is allowed; the next
  // read then delivers nothing. A skip that fails ends the data there.
  virtual void Skip(std::uint32_t count) = 0;

  // True once a read failed (a device or connection gave out) rather than
  // found the end of the data: what was read is then not the document, and
  // no read delivers anything more.
  virtual bool ReadFailed() const = 0;
};

}  // namespace kvd
