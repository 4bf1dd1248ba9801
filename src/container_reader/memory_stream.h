#pragma once

#include <cstdint>
#include <vector>

#include "container_reader/byte_stream.h"

namespace kvd {

// A byte stream over bytes held in memory.
class MemoryStream final : public ByteStream {
 public:
  explicit MemoryStream(std::vector<std::uint8_t> bytes);

  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  void Skip(std::uint32_t count) override;
  bool ReadFailed() const override { return false; }

  // Offset of the current position from the start; may lie past the end.
  std::uint64_t Position() const { return position_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t position_ = 0;
};

}  // namespace kvd
