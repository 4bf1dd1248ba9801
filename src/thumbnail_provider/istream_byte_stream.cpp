#include "thumbnail_provider/istream_byte_stream.h"

#include <algorithm>

namespace kvd {

std::uint32_t IStreamByteStream::Read(void* buffer, std::uint32_t count) {
  ULONG delivered = 0;
  stream_.Read(buffer, count, &delivered);
  // A stream that claims more than it was asked for would have the reader
  // trust bytes that are not in the buffer.
  return std::min<std::uint32_t>(delivered, count);
}

void IStreamByteStream::Skip(std::uint32_t count) {
  LARGE_INTEGER move{};
  move.QuadPart = static_cast<LONGLONG>(count);  // zero-extended: a skip never goes back
  stream_.Seek(move, STREAM_SEEK_CUR, nullptr);
}

}  // namespace kvd
