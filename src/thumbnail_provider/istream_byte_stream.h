#pragma once

#include <cstdint>

#include "container_reader/byte_stream.h"
#include "platform/platform.h"

namespace kvd {

// The shell's stream as the reader sees it. It borrows the stream for as long
// as it lives and adds no reference. A read asks the stream again until the
// count is met or a call delivers nothing or fails; the reader learns of the
// end of the data and of every failure from a short count alone. After a
// failed Read or Seek the stream is taken to have ended: nothing more is read
// from it, since where it stands is no longer known.
class IStreamByteStream final : public ByteStream {
 public:
  explicit IStreamByteStream(IStream& stream) : stream_(stream) {}

  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  void Skip(std::uint32_t count) override;

 private:
  IStream& stream_;
  bool failed_ = false;
};

}  // namespace kvd
