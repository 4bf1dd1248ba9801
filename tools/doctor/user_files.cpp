#include "doctor/user_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kvd::doctor {
namespace {

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t written = write(fd, content.data(), content.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Owner first: changing it may clear permission bits that the mode then sets.
bool TakeOwnerAndMode(int fd, const struct stat& target) {
  if (geteuid() == 0 && fchown(fd, target.st_uid, target.st_gid) != 0) return false;
  return fchmod(fd, target.st_mode & 07777) == 0;
}

// Run as root, the doctor changes a file only in a folder whose path no one
// else can change: each folder up to '/' root's, and writable by no one
// else (a sticky folder such as /tmp lets others add names, not move
// root's). folder has no links left in it.
bool SafeForRoot(const std::filesystem::path& folder) {
  if (geteuid() != 0) return true;
  for (std::filesystem::path at = folder;; at = at.parent_path()) {
    struct stat info {};
    if (lstat(at.c_str(), &info) != 0 || info.st_uid != 0) return false;
    if ((info.st_mode & S_IWGRP) != 0 && info.st_gid != 0) return false;
    if ((info.st_mode & S_IWOTH) != 0 && (info.st_mode & S_ISVTX) == 0) return false;
    if (!at.has_relative_path()) return true;
  }
}

}  // namespace

RegularFile::RegularFile(const char* path) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    fd_ = fd;
  } else {
    close(fd);
  }
}

RegularFile::~RegularFile() {
  if (fd_ >= 0) close(fd_);
}

long RegularFile::ReadSome(void* data, std::size_t size) {
  for (;;) {
    const ssize_t got = read(fd_, data, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

bool RegularFile::Read(void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    const long got = ReadSome(bytes, size);
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

std::optional<std::string> ReadRegularFile(const std::filesystem::path& path) {
  RegularFile file(path.c_str());
  if (!file.IsOpen()) return std::nullopt;
  std::string content;
  char buffer[4096];
  for (;;) {
    const long got = file.ReadSome(buffer, sizeof buffer);
    if (got < 0) return std::nullopt;
    if (got == 0) return content;
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

bool ReplaceFileContent(const std::filesystem::path& path, std::string_view content) {
  std::error_code error;
  const std::filesystem::path target = std::filesystem::canonical(path, error);
  struct stat info {};
  if (error || !SafeForRoot(target.parent_path()) || stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  std::string temporary = target.string() + ".kvd-doctor-XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool written = TakeOwnerAndMode(fd, info) && WriteAll(fd, content) && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (written && rename(temporary.c_str(), target.c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}

bool RemoveFile(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::canonical(path.parent_path(), error);
  if (error || !SafeForRoot(folder)) return false;
  return std::filesystem::remove(folder / path.filename(), error);
}

}  // namespace kvd::doctor
