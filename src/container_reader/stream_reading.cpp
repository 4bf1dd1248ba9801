#include "container_reader/stream_reading.h"

#include <algorithm>
#include <new>

namespace kvd {
namespace {

// First piece of a growing read; later pieces double, so a large honest
// payload takes few reads and few reallocations.
constexpr std::uint32_t kFirstReadPiece = 64 * 1024;

constexpr std::uint32_t kDroppedPiece = 64 * 1024;

}  // namespace

bool ReadGrowing(ByteStream& stream, std::uint32_t count, ByteBuffer& out) {
  out.clear();
  std::uint32_t piece = kFirstReadPiece;
  try {
    while (out.size() < count) {
      const auto wanted = std::min<std::uint32_t>(piece, count - static_cast<std::uint32_t>(out.size()));
      const std::size_t start = out.size();
      out.resize(start + wanted);
      const std::uint32_t delivered = stream.Read(out.data() + start, wanted);
      out.resize(start + delivered);
      if (delivered < wanted) return false;
      piece = piece > count / 2 ? count : piece * 2;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool ReadAndDrop(ByteStream& stream, std::uint32_t count) {
  if (count == 0) return true;
  ByteBuffer piece;
  try {
    piece.resize(std::min(count, kDroppedPiece));
  } catch (const std::bad_alloc&) {
    return false;
  }
  while (count > 0) {
    const auto wanted = std::min(count, static_cast<std::uint32_t>(piece.size()));
    if (stream.Read(piece.data(), wanted) < wanted) return false;
    count -= wanted;
  }
  return true;
}

}  // namespace kvd
