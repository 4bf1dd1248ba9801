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

constexpr std::uint32_t kScratchPiece = 64 * 1024;

// A deflate stream of picture data seldom expands more than this many times;
// the first output piece is sized for it, so that an honest stream is
// inflated into one allocation instead of a chain of doublings (each copying
// and clearing what it grows), while a stream that claims more than it
// delivers still costs no more than this many times its own bytes.
constexpr std::uint32_t kExpectedExpansion = 4;

std::uint32_t FirstOutputSize(std::size_t sourceBytes, std::uint32_t capacity) {
  const std::uint64_t expected = std::max<std::uint64_t>(kFirstOutputPiece, std::uint64_t{sourceBytes} * kExpectedExpansion);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(expected, capacity));
}

std::uint32_t NextOutputSize(std::uint32_t current, std::uint32_t capacity) {
  return current > capacity / 2 ? capacity : current * 2;
}

// Where inflated bytes go: the growing destination up to the bytes kept, then
// a scratch piece, over and over, until capacity bytes were produced.
class OutputSpace {
 public:
  OutputSpace(std::vector<std::uint8_t>& destination, std::uint32_t capacity, std::uint32_t keptBytes,
              std::size_t sourceBytes)
      : destination_(destination),
        capacity_(capacity),
        kept_(std::min(keptBytes, capacity)),
        firstSize_(FirstOutputSize(sourceBytes, kept_)) {}

  // Gives the stream fresh room once it has used up what it had; none is left
  // once capacity bytes were produced.
  void Refill(z_stream& stream) {
    if (stream.avail_out > 0) return;
    const std::size_t produced = destination_.size();
    if (produced < kept_) {
      destination_.resize(produced == 0 ? firstSize_ : NextOutputSize(static_cast<std::uint32_t>(produced), kept_));
      stream.next_out = destination_.data() + produced;
      stream.avail_out = static_cast<uInt>(destination_.size() - produced);
      return;
    }
    const auto room = static_cast<std::uint32_t>(capacity_ - std::min<uLong>(stream.total_out, capacity_));
    if (room == 0) return;
    if (scratch_.empty()) scratch_.resize(kScratchPiece);
    stream.next_out = scratch_.data();
    stream.avail_out = std::min(room, kScratchPiece);
  }

  bool Full(const z_stream& stream) const { return stream.total_out >= capacity_; }

 private:
  std::vector<std::uint8_t>& destination_;
  std::vector<std::uint8_t> scratch_;
  std::uint32_t capacity_;
  std::uint32_t kept_;
  std::uint32_t firstSize_;
};

bool InflateGrowing(z_stream& stream, OutputSpace& space) {
  // zlib refuses a null output pointer even when no output is wanted yet.
  Bytef noRoom = 0;
  stream.next_out = &noRoom;
  stream.avail_out = 0;
  while (true) {
    space.Refill(stream);
    const int result = inflate(&stream, Z_NO_FLUSH);
    if (result == Z_STREAM_END) return true;
    if (result != Z_OK && result != Z_BUF_ERROR) return false;
    // Output room left means the input ran out before the stream ended.
    if (stream.avail_out > 0) return false;
    // At the capacity, a call that still makes progress may be consuming the
    // trailer of a stream that filled the buffer exactly; one that makes none
    // has data that do not fit.
    if (space.Full(stream) && result == Z_BUF_ERROR) return false;
  }
}

}  // namespace

std::optional<std::uint32_t> InflateBuffer(std::span<const std::uint8_t> source,
                                           std::vector<std::uint8_t>& destination, std::uint32_t capacity,
                                           std::uint32_t keptBytes) {
  destination.clear();
  Inflater inflater;
  if (!inflater.ok()) return std::nullopt;
  z_stream& stream = inflater.stream();
  // zlib does not write through next_in; its API predates const.
  stream.next_in = const_cast<Bytef*>(source.data());
  stream.avail_in = static_cast<uInt>(source.size());
  try {
    OutputSpace space(destination, capacity, keptBytes, source.size());
    if (!InflateGrowing(stream, space)) {
      destination.clear();
      return std::nullopt;
    }
  } catch (const std::bad_alloc&) {
    destination.clear();
    return std::nullopt;
  }
  const auto produced = static_cast<std::uint32_t>(stream.total_out);
  destination.resize(std::min<std::size_t>(produced, destination.size()));
  return produced;
}

}  // namespace kvd
