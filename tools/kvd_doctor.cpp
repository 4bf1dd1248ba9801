// kvd-doctor: checks, in the user's own environment, each thing that makes a
// desktop show icons instead of .kvd thumbnails, prints one line per check
// and, with --fix, repairs what belongs to the user (Dolphin's plugin list,
// failure markers in the thumbnail cache).

#include <gio/gio.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "container_reader/container_writer.h"
#include "doctor/dolphin_settings.h"
#include "doctor/failure_markers.h"
#include "doctor/home_owner.h"
#include "doctor/report.h"
#include "doctor/thumbnailer_entry.h"
#include "doctor/user_files.h"
#include "png_reader.h"
#include "terminal_text.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using kvd::tools::kExitFailure;
using kvd::tools::kExitUsage;
using kvd::doctor::Report;
using kvd::doctor::RunCheck;

constexpr std::string_view kMimeType = "application/x-kvd";
constexpr std::string_view kKdePlugin = "kvdthumbnail";
// The edge length the check renders at: the size GNOME asks for first.
constexpr int kCheckSize = 128;

constexpr std::string_view kUsage =
    "usage: kvd-doctor [--fix]\n"
    "Checks why a desktop may show icons instead of .kvd thumbnails, one line per\n"
    "check. --fix adds the KDE plugin to Dolphin's list of preview plugins and\n"
    "removes the failure markers file managers left for .kvd files.\n";

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

fs::path Home() { return EnvOr("HOME", "/"); }

std::vector<fs::path> SplitPaths(const std::string& list) {
  std::vector<fs::path> paths;
  std::istringstream stream(list);
  for (std::string item; std::getline(stream, item, ':');) {
    if (!item.empty()) paths.emplace_back(item);
  }
  return paths;
}

// Where file managers look for thumbnailers and MIME data: the user's own
// folder first, then the system's.
std::vector<fs::path> DataDirs() {
  std::vector<fs::path> dirs = {EnvOr("XDG_DATA_HOME", (Home() / ".local/share").string())};
  for (const fs::path& dir : SplitPaths(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))) dirs.push_back(dir);
  return dirs;
}

fs::path ConfigHome() { return EnvOr("XDG_CONFIG_HOME", (Home() / ".config").string()); }
fs::path CacheHome() { return EnvOr("XDG_CACHE_HOME", (Home() / ".cache").string()); }

std::string JoinPaths(const std::vector<fs::path>& paths) {
  std::string text;
  for (const fs::path& path : paths) {
    if (!text.empty()) text += ':';
    text += path.string();
  }
  return text;
}

// A small document with an opaque stored preview, made as kvd-pack makes one.
std::vector<std::uint8_t> SampleDocument() {
  constexpr int kWidth = 8, kHeight = 4;
  const std::vector<std::uint8_t> pixels(kWidth * kHeight * 4, 0xFF);
  return kvd::ContainerWriter(kvd::ThumbManifestXml(kWidth, kHeight, kWidth, kHeight, "thumb"))
      .Chunk("thumb", kvd::kCompressionStored, pixels)
      .Bytes();
}

std::string ContentType(const char* name, const std::vector<std::uint8_t>* data) {
  gchar* type = g_content_type_guess(name, data ? data->data() : nullptr, data ? data->size() : 0, nullptr);
  gchar* mime = g_content_type_get_mime_type(type);
  std::string result = mime ? mime : "";
  g_free(mime);
  g_free(type);
  return result;
}

void CheckMimeType(Report& report) {
  const std::vector<std::uint8_t> sample = SampleDocument();
  const std::string byName = ContentType("painting.kvd", nullptr);
  const std::string byContent = ContentType(nullptr, &sample);
  const std::string found = "a .kvd name resolves to " + byName + ", a document's content to " + byContent;
  if (byName == kMimeType && byContent == kMimeType) {
    report.Ok("MIME type: " + found);
  } else {
    report.Wrong(
        "MIME type: " + found + ", not " + std::string(kMimeType) + " (searched " + JoinPaths(DataDirs()) + ")",
        "install the kvdthumb package, or run update-mime-database on PREFIX/share/mime of your install");
  }
}

// A thumbnailer renders the small sample in milliseconds; one still busy
// after this long would keep a file manager waiting as well.
constexpr std::chrono::seconds kThumbnailerTimeLimit{5};
// How often a running program is looked at while the doctor waits for it.
constexpr std::chrono::milliseconds kWaitStep{10};
// A program stuck in the kernel (on a network folder that is down) ends
// late even when killed; after this long it is left for the system to reap.
constexpr std::chrono::seconds kKillGrace{1};

struct ProgramEnd {
  enum class How { kExited, kNotRun, kTimedOut };
  How how = How::kNotRun;
  int status = 0;  // kExited: the exit status
};

// The wait status of pid (-1, no normal exit, when it cannot be waited for),
// or nothing when it is still running at deadline.
std::optional<int> WaitUntil(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(kWaitStep);
  }
}

// Runs the program in a process group of its own, so that when it passes the
// time limit it is ended together with whatever it started.
ProgramEnd RunProgram(const std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return {};
  pid_t pid = 0;
  const bool spawned = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP) == 0 &&
                       posix_spawnattr_setpgroup(&attributes, 0) == 0 &&
                       posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), environ) == 0;
  posix_spawnattr_destroy(&attributes);
  if (!spawned) return {};
  const std::optional<int> status = WaitUntil(pid, std::chrono::steady_clock::now() + kThumbnailerTimeLimit);
  if (!status) {
    kill(-pid, SIGKILL);
    WaitUntil(pid, std::chrono::steady_clock::now() + kKillGrace);
    return {ProgramEnd::How::kTimedOut};
  }
  if (!WIFEXITED(*status)) return {};
  return {ProgramEnd::How::kExited, WEXITSTATUS(*status)};
}

// Why a run did not succeed; "" when it exited with status 0.
std::string RunProblem(const ProgramEnd& end) {
  switch (end.how) {
    case ProgramEnd::How::kExited:
      return end.status == 0 ? "" : "it exited with status " + std::to_string(end.status) + " on a sample";
    case ProgramEnd::How::kNotRun:
      return "it could not be run, or was killed, on a sample";
    case ProgramEnd::How::kTimedOut:
      return "it did not finish within " + std::to_string(kThumbnailerTimeLimit.count()) +
             " seconds on a sample, and was ended";
  }
  return "";
}

// TMPDIR may name a folder that is gone (left over from another session);
// the sample then goes where the system keeps temporary files.
fs::path TemporaryFolder() {
  std::error_code error;
  const fs::path folder = fs::temp_directory_path(error);
  return error ? fs::path("/tmp") : folder;
}

// Runs the entry's Exec line on a sample in a temporary folder, as a file
// manager does, and checks that it wrote a square PNG of the size asked for.
std::string RenderSample(const kvd::doctor::ThumbnailerEntry& entry) {
  std::string pattern = (TemporaryFolder() / "kvd-doctor-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return "no temporary folder";
  const fs::path folder = pattern;
  const fs::path input = folder / "sample.kvd";
  const fs::path output = folder / "sample.png";
  std::string problem;
  const std::vector<std::uint8_t> sample = SampleDocument();
  std::ofstream out(input, std::ios::binary);
  out.write(reinterpret_cast<const char*>(sample.data()), static_cast<std::streamsize>(sample.size()));
  out.close();
  const std::optional<std::vector<std::string>> words =
      kvd::doctor::ExpandExecLine(entry.exec, input.string(), "file://" + input.string(), output.string(), kCheckSize);
  kvd::BgraPicture picture;
  std::string error;
  if (!out) {
    problem = "no sample could be written in " + folder.string();
  } else if (!words || words->empty()) {
    problem = "its Exec line cannot be read";
  } else if (const std::string failed = RunProblem(RunProgram(*words)); !failed.empty()) {
    problem = failed;
  } else if (!kvd::ReadPng(output, picture, error)) {
    problem = "it wrote no readable PNG for a sample (" + error + ")";
  } else if (picture.width != kCheckSize || picture.height != kCheckSize) {
    problem = "it drew " + std::to_string(picture.width) + " x " + std::to_string(picture.height) +
              " for a sample asked at " + std::to_string(kCheckSize);
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return problem;
}

// A program named without a folder is looked up along PATH, as the file
// manager does; the name itself when it is not found.
fs::path FindProgram(const fs::path& name) {
  if (name.empty() || name.has_parent_path()) return name;
  for (const fs::path& dir : SplitPaths(EnvOr("PATH", "/usr/bin:/bin"))) {
    std::error_code error;
    if (fs::is_regular_file(dir / name, error)) return dir / name;
  }
  return name;
}

fs::path ThumbnailerProgram(const kvd::doctor::ThumbnailerEntry& entry) {
  if (!entry.tryExec.empty()) return FindProgram(entry.tryExec);
  const auto words = kvd::doctor::ExpandExecLine(entry.exec, "", "", "", kCheckSize);
  return words && !words->empty() ? FindProgram((*words)[0]) : fs::path();
}

// GNOME runs thumbnailers in a sandbox that shows only /usr of the system.
void CheckSandboxVisibility(Report& report, const fs::path& program) {
  std::error_code error;
  const fs::path real = fs::canonical(program, error);
  if (!error && real.string().starts_with("/usr/")) {
    report.Ok("sandbox: " + real.string() + " lies under /usr, which GNOME's thumbnail sandbox shows");
  } else {
    report.Wrong("sandbox: " + (error ? program : real).string() +
                     " lies outside /usr, where GNOME's thumbnail sandbox cannot see it",
                 "install into /usr (the kvdthumb package) or /usr/local instead of " +
                     program.parent_path().parent_path().string());
  }
}

void CheckThumbnailer(Report& report) {
  const std::vector<fs::path> dirs = DataDirs();
  const std::optional<kvd::doctor::ThumbnailerEntry> entry =
      kvd::doctor::FindThumbnailerFor(std::string(kMimeType), dirs);
  if (!entry) {
    report.Wrong("thumbnailer: no entry for " + std::string(kMimeType) + " in thumbnailers/ of " + JoinPaths(dirs),
                 "install the kvdthumb package");
    return;
  }
  const fs::path program = ThumbnailerProgram(*entry);
  std::error_code error;
  if (program.empty() || !program.is_absolute() || !fs::is_regular_file(program, error)) {
    report.Wrong("thumbnailer: " + entry->file.string() + " runs " + program.string() + ", which does not exist",
                 "reinstall the kvdthumb package, or remove the stale " + entry->file.string());
    return;
  }
  if (const std::string problem = RenderSample(*entry); !problem.empty()) {
    report.Wrong("thumbnailer: " + entry->file.string() + " runs " + program.string() + ", but " + problem,
                 "run kvd-thumbnail by hand on a .kvd file to see its message");
  } else {
    report.Ok("thumbnailer: " + entry->file.string() + " renders a sample with " + program.string());
  }
  CheckSandboxVisibility(report, program);
}

// Frameworks 6 (Plasma 6) looks in kf6/thumbcreator, Frameworks 5 in
// kf5/thumbcreator, each under its own Qt's plugin folder.
std::optional<fs::path> FindKdePlugin() {
  std::vector<fs::path> dirs = SplitPaths(EnvOr("QT_PLUGIN_PATH", ""));
  dirs.emplace_back(KVD_QT6_PLUGIN_DIR);
  dirs.emplace_back(KVD_QT_PLUGIN_DIR);
  for (const fs::path& dir : dirs) {
    for (const char* frameworks : {"kf6", "kf5"}) {
      const fs::path plugin = dir / frameworks / "thumbcreator" / (std::string(kKdePlugin) + ".so");
      std::error_code error;
      if (fs::is_regular_file(plugin, error)) return plugin;
    }
  }
  return std::nullopt;
}

void CheckKde(Report& report, bool fix) {
  const fs::path dolphinrc = ConfigHome() / "dolphinrc";
  const std::optional<fs::path> plugin = FindKdePlugin();
  std::error_code error;
  if (plugin) {
    report.Ok("KDE plugin: " + plugin->string());
  } else if (fs::exists(dolphinrc, error)) {
    report.Wrong("KDE plugin: " + std::string(kKdePlugin) + " not found in Qt's plugin folders, and you use Dolphin",
                 "install the kvdthumb-kde package");
  } else {
    report.Ok("KDE plugin: not installed; only KDE applications such as Dolphin need it");
  }
  const std::optional<std::vector<std::string>> enabled = kvd::doctor::ReadDolphinPreviewPlugins(dolphinrc);
  if (!enabled) {
    report.Ok("Dolphin: no saved list of preview plugins, so every installed one is on");
  } else if (std::ranges::find(*enabled, kKdePlugin) != enabled->end()) {
    report.Ok("Dolphin: " + std::string(kKdePlugin) + " is on in " + dolphinrc.string());
  } else if (fix && kvd::doctor::AddDolphinPreviewPlugin(dolphinrc, std::string(kKdePlugin))) {
    report.Fixed("Dolphin: added " + std::string(kKdePlugin) + " to the preview plugins in " + dolphinrc.string() +
                 "; restart Dolphin");
  } else {
    report.Wrong(
        "Dolphin: the preview plugins saved in " + dolphinrc.string() + " leave out " + std::string(kKdePlugin),
        fix ? "the file could not be rewritten"
            : "run kvd-doctor --fix, or tick \"KVD painting documents\" in Dolphin's preview settings");
  }
}

// A marker whose file did not answer is neither counted as ours nor removed.
void ReportUnansweredMarkers(Report& report, const std::vector<kvd::doctor::FailureMarker>& unanswered) {
  if (unanswered.empty()) return;
  report.Wrong("failure markers: " + std::to_string(unanswered.size()) +
                   " failure marker(s) name files that did not answer in time, such as " +
                   kvd::TerminalText(unanswered.front().uri),
               "check that the folder holding them is reachable, then run kvd-doctor again");
}

void CheckFailureMarkers(Report& report, bool fix) {
  const fs::path cache = CacheHome();
  const kvd::doctor::KvdFailureMarkers found = kvd::doctor::FindKvdFailureMarkers(cache);
  ReportUnansweredMarkers(report, found.unanswered);
  const std::vector<kvd::doctor::FailureMarker>& markers = found.kvd;
  const std::string where = (cache / "thumbnails/fail").string();
  if (markers.empty()) {
    report.Ok("failure markers: none for .kvd files in " + where);
    return;
  }
  const std::string count = std::to_string(markers.size()) + " failure marker(s) for .kvd files in " + where;
  if (!fix) {
    report.Wrong("failure markers: " + count + " keep file managers from trying those files again",
                 "run kvd-doctor --fix to remove them");
    return;
  }
  int left = 0;
  for (const kvd::doctor::FailureMarker& marker : markers) {
    if (!kvd::doctor::RemoveFile(marker.marker)) ++left;
  }
  if (left == 0) {
    report.Fixed("failure markers: removed " + count);
  } else {
    report.Wrong("failure markers: " + std::to_string(left) + " of " + count + " could not be removed",
                 "check the permissions of " + where);
  }
}

// Every folder the doctor finds a program to run in, or writes into.
std::vector<fs::path> UserFolders() {
  std::vector<fs::path> folders = DataDirs();
  folders.push_back(ConfigHome());
  folders.push_back(CacheHome());
  folders.push_back(TemporaryFolder());
  return folders;
}

// Root on a user's home acts as that user before the first check; when it
// cannot, no check runs.
bool TakeHomeOwnersRights(Report& report) {
  const kvd::doctor::HomeOwnerSwitch user = kvd::doctor::ActAsHomeOwner(Home(), UserFolders());
  switch (user.outcome) {
    case kvd::doctor::HomeOwnerSwitch::Outcome::kUnchanged:
      return true;
    case kvd::doctor::HomeOwnerSwitch::Outcome::kSwitched:
      report.Ok("user: " + kvd::TerminalText(user.found));
      return true;
    case kvd::doctor::HomeOwnerSwitch::Outcome::kRefused:
      report.Wrong("user: " + kvd::TerminalText(user.found), user.todo);
      return false;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (kvd::tools::AsksForHelp(argc, argv)) {
    std::cout << kUsage;
    return 0;
  }
  const bool fix = argc == 2 && std::string_view(argv[1]) == "--fix";
  if (argc > 2 || (argc == 2 && !fix)) {
    std::cerr << kUsage;
    return kExitUsage;
  }
  Report report;
  if (!TakeHomeOwnersRights(report)) return kExitFailure;
  RunCheck(report, "MIME type", [&] { CheckMimeType(report); });
  RunCheck(report, "thumbnailer", [&] { CheckThumbnailer(report); });
  RunCheck(report, "KDE plugin and Dolphin", [&] { CheckKde(report, fix); });
  RunCheck(report, "failure markers", [&] { CheckFailureMarkers(report, fix); });
  return report.problems == 0 ? 0 : kExitFailure;
}
