#include "container_reader/memory_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kvd {

MemoryStream::MemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

std::uint32_t MemoryStream::Read(void* buffer, std::uint32_t count) {
  if (position_ >= bytes_.size()) return 0;
  const std::uint64_t left = bytes_.size() - position_;
  const auto delivered = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, left));
  std::memcpy(buffer, bytes_.data() + position_, delivered);
  position_ += delivered;
  return delivered;
}

void MemoryStream::Skip(std::uint32_t count) { position_ += count; }

}  // namespace kvd
