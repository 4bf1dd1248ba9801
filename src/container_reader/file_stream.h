#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "container_reader/byte_stream.h"

namespace kvd {

// A byte stream over a file opened for reading; a skip is a relative seek.
class FileStream final : public ByteStream {
 public:
  explicit FileStream(const std::filesystem::path& path);

  bool IsOpen() const { return file_.is_open(); }

  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  void Skip(std::uint32_t count) override;

 private:
  std::ifstream file_;
};

}  // namespace kvd
