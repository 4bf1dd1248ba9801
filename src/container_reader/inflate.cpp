#include "container_reader/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace kvd {
namespace {

constexpr std::uint32_t kFirstOutputPiece = 64 * 1024;

// Owns the inflation state so that every way out ends it.
class Inflater {
 public:
  Inflater() { ok_ = inflateInit(&stream_) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  bool ok() const { return ok_; }
  z_stream& stream() { return stream_; }

 private:
  z_stream stream_{};  // null allocators: zlib's own
  bool ok_ = false;
};

std::uint32_t NextOutputSize(std::uint32_t current, std::uint32_t capacity) {
  if (current < kFirstOutputPiece) return std::min(kFirstOutputPiece, capacity);
  return current > capacity / 2 ? capacity : current * 2;
}

bool InflateGrowing(z_stream& stream, std::vector<std::uint8_t>& destination,
                    std::uint32_t capacity) {
  // zlib refuses a null output pointer even when no output is wanted yet.
  Bytef noRoom = 0;
  stream.next_out = &noRoom;
  stream.avail_out = 0;
  while (true) {
    if (stream.avail_out == 0 && destination.size() < capacity) {
      const std::size_t produced = destination.size();
      destination.resize(NextOutputSize(static_cast<std::uint32_t>(produced), capacity));
      stream.next_out = destination.data() + produced;
      stream.avail_out = static_cast<uInt>(destination.size() - produced);
    }
    const int result = inflate(&stream, Z_NO_FLUSH);
    if (result == Z_STREAM_END) return true;
    if (result != Z_OK && result != Z_BUF_ERROR) return false;
    // Output room left means the input ran out before the stream ended.
    if (stream.avail_out > 0) return false;
    // At the capacity, a call that still makes progress may be consuming the
    // trailer of a stream that filled the buffer exactly; one that makes none
    // has data that do not fit.
    if (destination.size() >= capacity && result == Z_BUF_ERROR) return false;
  }
}

}  // namespace

bool InflateBuffer(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& destination,
                   std::uint32_t capacity) {
  destination.clear();
  Inflater inflater;
  if (!inflater.ok()) return false;
  z_stream& stream = inflater.stream();
  // zlib does not write through next_in; its API predates const.
  stream.next_in = const_cast<Bytef*>(source.data());
  stream.avail_in = static_cast<uInt>(source.size());
  try {
    if (!InflateGrowing(stream, destination, capacity)) {
      destination.clear();
      return false;
    }
  } catch (const std::bad_alloc&) {
    destination.clear();
    return false;
  }
  destination.resize(stream.total_out);
  return true;
}

}  // namespace kvd
