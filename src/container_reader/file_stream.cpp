#include "container_reader/file_stream.h"

#include <cerrno>

namespace kvd {

FileStream::FileStream(const std::filesystem::path& path) : file_(path, std::ios::binary) {}

std::uint32_t FileStream::Read(void* buffer, std::uint32_t count) {
  if (readError_ != 0) return 0;
  errno = 0;
  file_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
  const auto delivered = static_cast<std::uint32_t>(file_.gcount());
  // The end of the file sets eof and fail; only a read the system refused
  // (EIO from a failing disk or a dropped share) sets bad.
  if (file_.bad()) readError_ = errno != 0 ? errno : EIO;
  // Cleared so that later calls still work and go on reporting the end by
  // short counts.
  file_.clear();
  return delivered;
}

void FileStream::Skip(std::uint32_t count) {
  file_.seekg(static_cast<std::streamoff>(count), std::ios::cur);
  file_.clear();
}

}  // namespace kvd
