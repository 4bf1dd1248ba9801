#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "container_reader/byte_stream.h"

namespace kvd {

// A byte stream over a file opened for reading; a skip is a relative seek.
// A file that could not be opened reads as a failed read.
class FileStream final : public ByteStream {
 public:
  explicit FileStream(const std::filesystem::path& path);

  bool IsOpen() const { return file_.is_open(); }

  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  void Skip(std::uint32_t count) override;
  bool ReadFailed() const override { return !IsOpen() || readError_ != 0; }

  // The errno of the read that failed; 0 while none has.
  int ReadError() const { return readError_; }

 private:
  std::ifstream file_;
  int readError_ = 0;
};

}  // namespace kvd
