#pragma once

// How the doctor reads and rewrites files in a user's home. Whatever a cache
// entry or a settings path names may be a FIFO, a device or a link into a
// dotfiles folder; the doctor must neither wait on the first two nor break
// the third.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kvd::doctor {

// A regular file open for reading. Anything else (a FIFO, a device, a
// folder) is refused without waiting: the open does not block and the type
// is taken from the open file, so nothing can be swapped in between.
class RegularFile {
 public:
  // Takes a C string and allocates nothing, so that a forked child may use it.
  explicit RegularFile(const char* path);
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // Up to size bytes: how many were read, 0 at the end of the file, -1 on
  // an error.
  long ReadSome(void* data, std::size_t size);
  // Exactly size bytes; false at the end of the file or on an error.
  bool Read(void* data, std::size_t size);

 private:
  int fd_ = -1;
};

// The whole content of a regular file; nothing when path names none or it
// cannot be read.
std::optional<std::string> ReadRegularFile(const std::filesystem::path& path);

// Replaces the content of the file path leads to, following every link:
// dotfile managers keep settings as links into their own folder, and the
// link must stay. The new content goes into a file beside the target with
// the target's permissions (and, when run as root, its owner), renamed over
// it, so a failed write leaves the old content whole. Run as root, it writes
// only where no one else can change the path (false otherwise).
bool ReplaceFileContent(const std::filesystem::path& path, std::string_view content);

// Removes the file path names (a link itself, not what it leads to); false
// when there was none or it could not be removed. Run as root, it removes
// only where no one else can change the path.
bool RemoveFile(const std::filesystem::path& path);

}  // namespace kvd::doctor
