#pragma once

#include <cstdint>

#include "container_reader/byte_stream.h"

namespace kvd {

// Passes reads and skips on to another stream and keeps the offset they
// reached, so that a tool can say where in the file a record lies.
class CountingStream final : public ByteStream {
 public:
  explicit CountingStream(ByteStream& inner) : inner_(inner) {}

  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    const std::uint32_t delivered = inner_.Read(buffer, count);
    position_ += delivered;
    return delivered;
  }

  void Skip(std::uint32_t count) override {
    inner_.Skip(count);
    position_ += count;
  }

  bool ReadFailed() const override { return inner_.ReadFailed(); }

  // May lie past the end after a skip.
  std::uint64_t Position() const { return position_; }

 private:
  ByteStream& inner_;
  std::uint64_t position_ = 0;
};

}  // namespace kvd
