#include "container_reader/file_stream.h"

namespace kvd {

FileStream::FileStream(const std::filesystem::path& path) : file_(path, std::ios::binary) {}

std::uint32_t FileStream::Read(void* buffer, std::uint32_t count) {
  file_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
  const auto delivered = static_cast<std::uint32_t>(file_.gcount());
  // A short read sets eof and fail; clear them so that later calls still work
  // (and go on reporting the end by short counts).
  file_.clear();
  return delivered;
}

void FileStream::Skip(std::uint32_t count) {
  file_.seekg(static_cast<std::streamoff>(count), std::ios::cur);
  file_.clear();
}

}  // namespace kvd
