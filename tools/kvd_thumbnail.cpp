// kvd-thumbnail: renders the thumbnail of a .kvd document exactly as the shell
// extension draws it, as a PNG or as the raw bitmap memory.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "command_line.h"
#include "container_reader/file_stream.h"
#include "png_writer.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace {

constexpr std::uint32_t kDefaultSize = 256;
using kvd::tools::kExitFailure;
using kvd::tools::kExitUsage;
// Apart from the other failures, so that a script can tell a file it may try
// again later (an offline or failing disk, a dropped share) from a broken one.
constexpr int kExitUnreadable = 3;

constexpr const char* kUsage =
    "usage: kvd-thumbnail [-s SIZE] [--raw] INPUT OUTPUT\n"
    "       kvd-thumbnail [-s SIZE] [--raw] -o PATTERN INPUT...\n"
    "  Renders the thumbnail of the .kvd document INPUT as a SIZE x SIZE picture\n"
    "  (default 256) and writes it to OUTPUT as a PNG.\n"
    "  -s, --size SIZE     edge length in pixels, 1 to 46340\n"
    "  --raw               write the raw bitmap instead: SIZE x SIZE x 4 bytes,\n"
    "                      bottom row first, each pixel blue, green, red, alpha\n"
    "  -o, --output PATTERN  render every INPUT, on all cores; each output is\n"
    "                      PATTERN with %s replaced by the input's name without\n"
    "                      its extension (%% for a percent sign), for example\n"
    "                      'thumbs/%s.png'; missing folders are created\n"
    "  -h, --help          show this help\n"
    "Exit status: 0 when every output was written; 3 when an INPUT cannot be\n"
    "read (missing, no permission, an I/O error): nothing is written for it;\n"
    "1 for any other failure, or for failures of both kinds in one batch;\n"
    "2 for a usage mistake.\n";

struct Options {
  std::uint32_t size = kDefaultSize;
  bool raw = false;
  std::filesystem::path input;
  std::filesystem::path output;
  // Batch mode: every input, and the pattern their outputs are named by.
  std::optional<std::string> outputPattern;
  std::vector<std::filesystem::path> inputs;
};

std::optional<std::uint32_t> ParseSize(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < 1 || value > kvd::kMaxThumbnailEdge) return std::nullopt;
  return value;
}

// Checks that the pattern names one output per input: %s is the only field,
// and it is there when there is more than one input.
std::optional<std::string> CheckPattern(std::string_view pattern, std::size_t inputCount) {
  bool namesInput = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    if (i + 1 == pattern.size() || (pattern[i + 1] != 's' && pattern[i + 1] != '%')) {
      return "PATTERN knows only %s (the input's name) and %%";
    }
    namesInput = namesInput || pattern[i + 1] == 's';
    ++i;
  }
  if (!namesInput && inputCount > 1) return "PATTERN needs %s to give each INPUT its own output";
  return std::nullopt;
}

// Fills options from the arguments; on a mistake returns the message to show.
std::optional<std::string> ParseArguments(int argc, char** argv, Options& options) {
  int positional = 0;
  std::vector<std::filesystem::path> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "-s" || argument == "--size") {
      if (++i == argc) return "missing SIZE after " + std::string(argument);
      const std::optional<std::uint32_t> size = ParseSize(argv[i]);
      if (!size) return "SIZE must be a whole number from 1 to " + std::to_string(kvd::kMaxThumbnailEdge);
      options.size = *size;
    } else if (argument == "--raw") {
      options.raw = true;
    } else if (argument == "-o" || argument == "--output") {
      if (++i == argc) return "missing PATTERN after " + std::string(argument);
      options.outputPattern = argv[i];
    } else if (argument.size() > 1 && argument.front() == '-') {
      return "unknown option " + std::string(argument);
    } else if (options.outputPattern || positional == 2) {
      arguments.emplace_back(argument);
    } else if (positional == 0) {
      options.input = argument;
      ++positional;
    } else if (positional == 1) {
      options.output = argument;
      ++positional;
    }
  }
  if (options.outputPattern) {
    // Batch mode: whatever was taken for INPUT and OUTPUT are inputs too.
    if (positional > 0) arguments.insert(arguments.begin(), options.input);
    if (positional > 1) arguments.insert(arguments.begin() + 1, options.output);
    options.inputs = std::move(arguments);
    if (options.inputs.empty()) return "at least one INPUT is required";
    return CheckPattern(*options.outputPattern, options.inputs.size());
  }
  if (!arguments.empty()) return "too many arguments";
  if (positional < 2) return "INPUT and OUTPUT are required";
  return std::nullopt;
}

bool WriteRaw(const std::filesystem::path& path, const std::vector<std::uint8_t>& bits, std::string& error) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bits.data()), static_cast<std::streamsize>(bits.size()));
  out.close();
  if (!out) error = std::strerror(errno);
  return static_cast<bool>(out);
}

// What rendering one file came to, and the line to tell the user (none when empty).
struct FileReport {
  bool written = false;
  bool unreadable = false;  // the input could not be opened or read
  std::string line;
};

std::string OutcomeNote(kvd::LoadOutcome outcome, const std::string& input) {
  switch (outcome) {
    case kvd::LoadOutcome::Thumbnail:
    case kvd::LoadOutcome::ReadFailed:  // refused before any output
      return {};
    case kvd::LoadOutcome::Placeholder:
      return input + " is not a .kvd container; wrote the placeholder checkerboard";
    case kvd::LoadOutcome::NoThumbnail:
      return input + " holds no usable thumbnail; wrote what the shell shows for it";
  }
  return {};
}

FileReport Failure(std::string line) { return {false, false, std::move(line)}; }

FileReport Unreadable(const std::filesystem::path& input, const std::string& reason) {
  return {false, true, "cannot read " + input.string() + ": " + reason};
}

FileReport RenderFile(const std::filesystem::path& input, const std::filesystem::path& output, const Options& options) {
  std::error_code ignored;
  if (std::filesystem::is_directory(input, ignored)) return Unreadable(input, "it is a directory");
  kvd::FileStream stream(input);
  if (!stream.IsOpen()) return Unreadable(input, std::strerror(errno));
  const kvd::ThumbnailBitmap bitmap = kvd::RenderThumbnailBitmap(&stream, options.size);
  if (bitmap.result.status != kvd::RenderStatus::Ok) {
    const std::string size = std::to_string(options.size);
    return Failure("out of memory for a " + size + " x " + size + " thumbnail");
  }
  // What was read before the failure is not the document: no picture of it.
  if (bitmap.result.outcome == kvd::LoadOutcome::ReadFailed) return Unreadable(input, std::strerror(stream.ReadError()));
  std::string error;
  const bool written = options.raw ? WriteRaw(output, bitmap.bits, error)
                                   : kvd::WritePng(output, options.size, options.size, bitmap.bits, error,
                                                   kvd::PngPacking::Stored);
  if (!written) return Failure("cannot write " + output.string() + ": " + error);
  return {true, false, OutcomeNote(bitmap.result.outcome, input.string())};
}

void PrintLine(const std::string& line) {
  if (!line.empty()) std::fprintf(stderr, "kvd-thumbnail: %s\n", line.c_str());
}

int ExitStatus(const FileReport& report) {
  if (report.written) return EXIT_SUCCESS;
  return report.unreadable ? kExitUnreadable : kExitFailure;
}

int RunSingle(const Options& options) {
  const FileReport report = RenderFile(options.input, options.output, options);
  PrintLine(report.line);
  return ExitStatus(report);
}

// The pattern with %s replaced by the input's name without its extension.
std::filesystem::path OutputFor(const std::filesystem::path& input, std::string_view pattern) {
  std::string output;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      output += pattern[++i] == 's' ? input.stem().string() : std::string("%");
    } else {
      output += pattern[i];
    }
  }
  return output;
}

// One input of a batch, with what stops it before rendering (empty: nothing).
struct BatchItem {
  std::filesystem::path input;
  std::filesystem::path output;
  std::string refusal;
};

// Two inputs with one output, or an output that is its input, would lose a
// file: such an input is refused, never rendered.
std::vector<BatchItem> PlanBatch(const Options& options) {
  std::vector<BatchItem> items;
  std::set<std::filesystem::path> taken;
  for (const std::filesystem::path& input : options.inputs) {
    BatchItem item{input, OutputFor(input, *options.outputPattern), {}};
    std::error_code ignored;
    const std::filesystem::path target = std::filesystem::weakly_canonical(std::filesystem::absolute(item.output), ignored);
    if (target == std::filesystem::weakly_canonical(std::filesystem::absolute(input), ignored)) {
      item.refusal = "refusing to overwrite " + input.string() + " with its own thumbnail";
    } else if (!taken.insert(target).second) {
      item.refusal = "not rendering " + input.string() + ": an earlier input already writes " + item.output.string();
    }
    items.push_back(std::move(item));
  }
  return items;
}

FileReport RenderBatchItem(const BatchItem& item, const Options& options) {
  if (!item.refusal.empty()) return Failure(item.refusal);
  const std::filesystem::path folder = item.output.parent_path();
  std::error_code error;
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  if (error) return Failure("cannot create " + folder.string() + ": " + error.message());
  return RenderFile(item.input, item.output, options);
}

// Prints the batch's lines one at a time, and on a terminal keeps a progress
// line below them.
class BatchReporter {
 public:
  explicit BatchReporter(std::size_t total) : total_(total), terminal_(isatty(STDERR_FILENO) == 1) {}

  void Finished(const FileReport& report) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (!report.written) ++failed_;
    if (report.unreadable) ++unreadable_;
    if (terminal_) std::fputs("\r\033[K", stderr);
    PrintLine(report.line);
    if (terminal_) {
      std::fprintf(stderr, "kvd-thumbnail: %zu of %zu done, %zu failed", done_, total_, failed_);
      if (done_ == total_) std::fputc('\n', stderr);
    }
  }

  // kExitUnreadable only when every failure was an input that could not be read.
  int ExitStatus() const {
    if (failed_ == 0) return EXIT_SUCCESS;
    return failed_ == unreadable_ ? kExitUnreadable : kExitFailure;
  }

 private:
  std::mutex mutex_;
  std::size_t total_;
  bool terminal_;
  std::size_t done_ = 0;
  std::size_t failed_ = 0;
  std::size_t unreadable_ = 0;
};

int RunBatch(const Options& options) {
  const std::vector<BatchItem> items = PlanBatch(options);
  BatchReporter reporter(items.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < items.size(); i = next++) reporter.Finished(RenderBatchItem(items[i], options));
  };
  const std::size_t workers = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, items.size());
  std::vector<std::jthread> threads;
  try {
    for (std::size_t i = 1; i < workers; ++i) threads.emplace_back(work);
  } catch (const std::system_error&) {
    // Fewer threads than cores only makes the batch slower; this one works too.
  }
  work();
  threads.clear();
  return reporter.ExitStatus();
}

}  // namespace

int main(int argc, char** argv) {
  if (kvd::tools::AsksForHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return EXIT_SUCCESS;
  }
  Options options;
  if (const std::optional<std::string> mistake = ParseArguments(argc, argv, options)) {
    std::fprintf(stderr, "kvd-thumbnail: %s\n%s", mistake->c_str(), kUsage);
    return kExitUsage;
  }
  return options.outputPattern ? RunBatch(options) : RunSingle(options);
}
