#include "shell_module/istream_byte_stream.h"

#include <algorithm>
#include <cstdint>

namespace kvd {

// A stream may deliver fewer bytes than asked before its end (network
// locations do), so only a call that delivers nothing, or fails, ends a read.
std::uint32_t IStreamByteStream::Read(void* buffer, std::uint32_t count) {
  if (ended_ || ReadFailed()) return 0;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::uint32_t total = 0;
  while (total < count) {
    ULONG delivered = 0;
    const HRESULT result = stream_.Read(bytes + total, count - total, &delivered);
    if (Failed(result)) {
      readFailure_ = result;
      break;
    }
    // A stream that claims more than it was asked for would have the reader
    // trust bytes that are not in the buffer.
    const std::uint32_t taken = std::min<std::uint32_t>(delivered, count - total);
    total += taken;
    if (taken == 0) break;
  }
  return total;
}

void IStreamByteStream::Skip(std::uint32_t count) {
  if (ended_ || ReadFailed()) return;
  LARGE_INTEGER move{};
  move.QuadPart = static_cast<LONGLONG>(count);  // zero-extended: a skip never goes back
  // A stream that did not move would have the reader take the skipped
  // payload's bytes for the next record.
  if (Failed(stream_.Seek(move, STREAM_SEEK_CUR, nullptr))) ended_ = true;
}

}  // namespace kvd
