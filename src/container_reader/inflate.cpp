#include "container_reader/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>

#include "container_reader/adler32.h"

namespace kvd {
namespace {

constexpr std::uint32_t kFirstOutputPiece = 64 * 1024;

// The zlib wrapper is checked here and zlib inflates only the deflate data
// between its header and its trailer: zlib's own Adler-32 walks the output
// byte by byte at a fraction of memory speed, a tenth of the thumbnail's
// cost. What is accepted stays zlib's to the byte: the header is refused for
// what zlib refuses it, the deflate data end where zlib's do, and the
// trailer must be the four bytes behind them.
constexpr std::size_t kZlibHeaderBytes = 2;
constexpr std::size_t kZlibTrailerBytes = 4;

// As zlib reads the header: the check bits make the big-endian pair a
// multiple of 31, the method is deflate, the window at most 32 KiB; a preset
// dictionary is refused, since none is ever given.
bool IsAcceptedZlibHeader(std::span<const std::uint8_t> source) {
  if (source.size() < kZlibHeaderBytes) return false;
  const unsigned methodAndWindow = source[0];
  const unsigned flags = source[1];
  const bool checked = (methodAndWindow * 256 + flags) % 31 == 0;
  const bool deflate = (methodAndWindow & 0x0F) == Z_DEFLATED;
  const bool windowFits = (methodAndWindow >> 4) + 8 <= MAX_WBITS;
  const bool presetDictionary = (flags & 0x20) != 0;
  return checked && deflate && windowFits && !presetDictionary;
}

// zlib pulls no whole byte past the end of the deflate data into its bit
// buffer, so the trailer starts at the next unread input byte.
bool TrailerMatches(const z_stream& stream, std::uint32_t adler) {
  if (stream.avail_in < kZlibTrailerBytes) return false;
  const Bytef* trailer = stream.next_in;
  const std::uint32_t stored = (std::uint32_t{trailer[0]} << 24) | (std::uint32_t{trailer[1]} << 16) |
                               (std::uint32_t{trailer[2]} << 8) | std::uint32_t{trailer[3]};
  return stored == adler;
}

// Owns the inflation state so that every way out ends it.
class Inflater {
 public:
  // Negative window bits: bare deflate data, with the same 32 KiB window that
  // the wrapper's inflateInit gives.
  Inflater() { ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
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
  OutputSpace(ByteBuffer& destination, std::uint32_t capacity, std::uint32_t keptBytes,
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
  ByteBuffer& destination_;
  ByteBuffer scratch_;
  std::uint32_t capacity_;
  std::uint32_t kept_;
  std::uint32_t firstSize_;
};

// Inflates the deflate data and sums the Adler-32 of all they produce, the
// dropped bytes too.
bool InflateGrowing(z_stream& stream, OutputSpace& space, std::uint32_t& adler) {
  // zlib refuses a null output pointer even when no output is wanted yet.
  Bytef noRoom = 0;
  stream.next_out = &noRoom;
  stream.avail_out = 0;
  while (true) {
    space.Refill(stream);
    const Bytef* produced = stream.next_out;
    const int result = inflate(&stream, Z_NO_FLUSH);
    adler = Adler32(adler, {produced, static_cast<std::size_t>(stream.next_out - produced)});
    if (result == Z_STREAM_END) return true;
    if (result != Z_OK && result != Z_BUF_ERROR) return false;
    // Output room left means the input ran out before the stream ended.
    if (stream.avail_out > 0) return false;
    // At the capacity, a call that still makes progress may be reaching the
    // end of data that filled the buffer exactly; one that makes none
    // has data that do not fit.
    if (space.Full(stream) && result == Z_BUF_ERROR) return false;
  }
}

}  // namespace

std::optional<std::uint32_t> InflateBuffer(std::span<const std::uint8_t> source,
                                           ByteBuffer& destination, std::uint32_t capacity,
                                           std::uint32_t keptBytes) {
  destination.clear();
  if (!IsAcceptedZlibHeader(source)) return std::nullopt;
  Inflater inflater;
  if (!inflater.ok()) return std::nullopt;
  z_stream& stream = inflater.stream();
  const std::span<const std::uint8_t> deflateData = source.subspan(kZlibHeaderBytes);
  // zlib does not write through next_in; its API predates const.
  stream.next_in = const_cast<Bytef*>(deflateData.data());
  stream.avail_in = static_cast<uInt>(deflateData.size());
  std::uint32_t adler = kAdler32Start;
  try {
    OutputSpace space(destination, capacity, keptBytes, source.size());
    if (!InflateGrowing(stream, space, adler) || !TrailerMatches(stream, adler)) {
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
