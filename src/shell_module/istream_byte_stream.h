#pragma once

#include <cstdint>

#include "container_reader/byte_stream.h"
#include "platform/platform.h"

namespace kvd {

// The shell's stream as the reader sees it. It borrows the stream for as long
// as it lives and adds no reference. A read asks the stream again until the
// count is met or a call delivers nothing or fails. A short count with a
// succeeding result (S_OK, S_FALSE) is the end of the data; a failing result
// (E_PENDING from an offline file, STG_E_READFAULT from a dropped share) is
// kept, for the caller to answer the shell with, so that the shell keeps no
// picture of a document it never saw. A failed Seek ends the data there:
// some memory streams refuse to seek past their end, and that is a cut
// document, not a failed device. After either, nothing more is read from the
// stream, since where it stands is no longer known.
class IStreamByteStream final : public ByteStream {
 public:
  explicit IStreamByteStream(IStream& stream) : stream_(stream) {}

  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  void Skip(std::uint32_t count) override;
  bool ReadFailed() const override { return Failed(readFailure_); }

  // The result of the Read that failed; S_OK while none has.
  HRESULT ReadFailure() const { return readFailure_; }

 private:
  IStream& stream_;
  HRESULT readFailure_ = S_OK;
  bool ended_ = false;
};

}  // namespace kvd
