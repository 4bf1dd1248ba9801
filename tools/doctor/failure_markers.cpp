#include "doctor/failure_markers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>

#include "container_reader/container_format.h"
#include "doctor/user_files.h"

namespace kvd::doctor {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Markers are a few hundred bytes; a bigger chunk means it is no marker.
constexpr std::uint32_t kMaxMarkerChunkBytes = 64 * 1024;
// A file on a network mount that no longer answers holds its opener in the
// kernel however it is opened, so the files are opened by a child process
// that is given up on: after this long without an answer for one file, ...
constexpr milliseconds kAnswerTimeout{2000};
// ... and after this long for all of them, so that a plain run stays short.
constexpr milliseconds kProbeBudget{5000};

enum class Probe : char { kKvd = 'k', kOther = 'o', kNoAnswer = '?' };

std::uint32_t BigEndian32(const std::array<char, 8>& bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

// A file:// URI's path with its %XX escapes decoded; "" for other schemes.
std::string LocalPath(const std::string& uri) {
  constexpr std::string_view kScheme = "file://";
  if (!uri.starts_with(kScheme)) return "";
  std::string path;
  for (std::size_t i = kScheme.size(); i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
      path += static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      path += uri[i];
    }
  }
  return path;
}

bool EndsWithKvd(const std::string& uri) {
  constexpr std::string_view kExtension = ".kvd";
  if (uri.size() < kExtension.size()) return false;
  return std::equal(kExtension.begin(), kExtension.end(), uri.end() - kExtension.size(),
                    [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

bool BeginsWithMagic(const char* path) {
  RegularFile file(path);
  std::array<std::uint8_t, kContainerMagic.size()> head{};
  return file.IsOpen() && file.Read(head.data(), head.size()) && head == kContainerMagic;
}

// The forked child of a process that may have threads: nothing here may
// allocate or take a lock.
[[noreturn]] void AnswerProbes(int pipe, const std::vector<std::string>& paths, std::size_t first) {
  // Holding none of the doctor's descriptors, a prober stuck in the kernel
  // keeps nobody who reads the doctor's output waiting.
  if (pipe > 0) close_range(0, static_cast<unsigned>(pipe) - 1, 0);
  close_range(static_cast<unsigned>(pipe) + 1, ~0U, 0);
  for (std::size_t i = first; i < paths.size(); ++i) {
    const char answer = static_cast<char>(BeginsWithMagic(paths[i].c_str()) ? Probe::kKvd : Probe::kOther);
    if (write(pipe, &answer, 1) != 1) _exit(1);
  }
  _exit(0);
}

struct Prober {
  pid_t pid;
  int pipe;
};

std::optional<Prober> StartProber(const std::vector<std::string>& paths, std::size_t first) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  const pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    AnswerProbes(ends[1], paths, first);
  }
  close(ends[1]);
  if (pid > 0) return Prober{pid, ends[0]};
  close(ends[0]);
  return std::nullopt;
}

// A prober given up on may be stuck where even SIGKILL takes effect late;
// it is left for the system to reap rather than waited for.
void StopProber(const Prober& prober, bool answeredAll) {
  if (!answeredAll) kill(prober.pid, SIGKILL);
  waitpid(prober.pid, nullptr, answeredAll ? 0 : WNOHANG);
  close(prober.pipe);
}

std::optional<Probe> ReadAnswer(int pipe, milliseconds timeout) {
  pollfd request{pipe, POLLIN, 0};
  int ready = 0;
  do {
    ready = poll(&request, 1, static_cast<int>(timeout.count()));
  } while (ready < 0 && errno == EINTR);
  char answer = 0;
  if (ready != 1 || read(pipe, &answer, 1) != 1) return std::nullopt;
  return static_cast<Probe>(answer);
}

// Which files begin with the container's magic. One that keeps the prober
// waiting stays kNoAnswer and a new prober takes the files after it.
std::vector<Probe> ProbeForMagic(const std::vector<std::string>& paths) {
  std::vector<Probe> answers(paths.size(), Probe::kNoAnswer);
  const steady_clock::time_point giveUp = steady_clock::now() + kProbeBudget;
  const auto timeLeft = [&] {
    return std::min(kAnswerTimeout, std::chrono::ceil<milliseconds>(giveUp - steady_clock::now()));
  };
  std::size_t next = 0;
  while (next < paths.size() && timeLeft() > milliseconds::zero()) {
    const std::optional<Prober> prober = StartProber(paths, next);
    if (!prober) break;
    while (next < paths.size()) {
      const std::optional<Probe> answer = ReadAnswer(prober->pipe, std::max(timeLeft(), milliseconds::zero()));
      if (!answer) break;
      answers[next++] = *answer;
    }
    StopProber(*prober, next == paths.size());
    if (next < paths.size()) ++next;
  }
  return answers;
}

}  // namespace

std::string ReadPngText(const std::filesystem::path& png, const std::string& key) {
  constexpr std::string_view kSignature = "\x89PNG\r\n\x1a\n";
  RegularFile in(png.c_str());
  std::array<char, 8> bytes{};
  if (!in.Read(bytes.data(), bytes.size()) || std::string_view(bytes.data(), 8) != kSignature) return "";
  // Each chunk: length, type, data, CRC.
  std::array<char, 4> crc{};
  while (in.Read(bytes.data(), bytes.size())) {
    const std::uint32_t length = BigEndian32(bytes);
    const std::string type(bytes.data() + 4, 4);
    if (length > kMaxMarkerChunkBytes || type == "IEND") return "";
    std::string data(length, '\0');
    if (!in.Read(data.data(), length) || !in.Read(crc.data(), crc.size())) return "";
    const std::size_t nul = data.find('\0');
    if (type == "tEXt" && nul != std::string::npos && data.substr(0, nul) == key) return data.substr(nul + 1);
  }
  return "";
}

KvdFailureMarkers FindKvdFailureMarkers(const std::filesystem::path& cacheDir) {
  KvdFailureMarkers found;
  std::vector<FailureMarker> unnamed;  // local files without the .kvd extension
  std::vector<std::string> paths;
  std::error_code error;
  for (const auto& app : std::filesystem::directory_iterator(cacheDir / "thumbnails" / "fail", error)) {
    std::error_code inner;
    for (const auto& item : std::filesystem::directory_iterator(app.path(), inner)) {
      if (item.path().extension() != ".png") continue;
      const std::string uri = ReadPngText(item.path(), "Thumb::URI");
      if (uri.empty()) continue;
      if (EndsWithKvd(uri)) {
        found.kvd.push_back({item.path(), uri});
      } else if (const std::string path = LocalPath(uri); !path.empty()) {
        unnamed.push_back({item.path(), uri});
        paths.push_back(path);
      }
    }
  }
  const std::vector<Probe> answers = ProbeForMagic(paths);
  for (std::size_t i = 0; i < unnamed.size(); ++i) {
    if (answers[i] == Probe::kKvd) found.kvd.push_back(unnamed[i]);
    if (answers[i] == Probe::kNoAnswer) found.unanswered.push_back(unnamed[i]);
  }
  std::ranges::sort(found.kvd, {}, &FailureMarker::marker);
  std::ranges::sort(found.unanswered, {}, &FailureMarker::marker);
  return found;
}

}  // namespace kvd::doctor
