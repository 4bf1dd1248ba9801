// kvd-thumbnail: renders the thumbnail of a .kvd document exactly as the shell
// extension draws it, as a PNG or as the raw bitmap memory.

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "container_reader/file_stream.h"
#include "png_writer.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace {

constexpr std::uint32_t kDefaultSize = 256;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: kvd-thumbnail [-s SIZE] [--raw] INPUT OUTPUT\n"
    "  Renders the thumbnail of the .kvd document INPUT as a SIZE x SIZE picture\n"
    "  (default 256) and writes it to OUTPUT as a PNG.\n"
    "  -s, --size SIZE  edge length in pixels, 1 to 46340\n"
    "  --raw            write the raw bitmap instead: SIZE x SIZE x 4 bytes,\n"
    "                   bottom row first, each pixel blue, green, red, alpha\n"
    "  -h, --help       show this help\n";

struct Options {
  std::uint32_t size = kDefaultSize;
  bool raw = false;
  std::filesystem::path input;
  std::filesystem::path output;
};

std::optional<std::uint32_t> ParseSize(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < 1 || value > kvd::kMaxThumbnailEdge) return std::nullopt;
  return value;
}

// Fills options from the arguments; on a mistake returns the message to show.
std::optional<std::string> ParseArguments(int argc, char** argv, Options& options) {
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "-s" || argument == "--size") {
      if (++i == argc) return "missing SIZE after " + std::string(argument);
      const std::optional<std::uint32_t> size = ParseSize(argv[i]);
      if (!size) return "SIZE must be a whole number from 1 to " + std::to_string(kvd::kMaxThumbnailEdge);
      options.size = *size;
    } else if (argument == "--raw") {
      options.raw = true;
    } else if (argument.size() > 1 && argument.front() == '-') {
      return "unknown option " + std::string(argument);
    } else if (positional == 0) {
      options.input = argument;
      ++positional;
    } else if (positional == 1) {
      options.output = argument;
      ++positional;
    } else {
      return "too many arguments";
    }
  }
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

void ReportOutcome(kvd::LoadOutcome outcome, const Options& options) {
  const std::string input = options.input.string();
  switch (outcome) {
    case kvd::LoadOutcome::Thumbnail:
      return;
    case kvd::LoadOutcome::Placeholder:
      std::fprintf(stderr, "kvd-thumbnail: %s is not a .kvd container; wrote the placeholder checkerboard\n",
                   input.c_str());
      return;
    case kvd::LoadOutcome::NoThumbnail:
      std::fprintf(stderr, "kvd-thumbnail: %s holds no usable thumbnail; wrote what the shell shows for it\n",
                   input.c_str());
      return;
  }
}

int Run(const Options& options) {
  std::error_code ignored;
  if (std::filesystem::is_directory(options.input, ignored)) {
    std::fprintf(stderr, "kvd-thumbnail: cannot read %s: it is a directory\n", options.input.string().c_str());
    return kExitFailure;
  }
  kvd::FileStream stream(options.input);
  if (!stream.IsOpen()) {
    std::fprintf(stderr, "kvd-thumbnail: cannot read %s: %s\n", options.input.string().c_str(), std::strerror(errno));
    return kExitFailure;
  }
  const kvd::ThumbnailBitmap bitmap = kvd::RenderThumbnailBitmap(&stream, options.size);
  if (bitmap.result.status != kvd::RenderStatus::Ok) {
    std::fprintf(stderr, "kvd-thumbnail: out of memory for a %u x %u thumbnail\n", options.size, options.size);
    return kExitFailure;
  }
  std::string error;
  const bool written = options.raw ? WriteRaw(options.output, bitmap.bits, error)
                                   : kvd::WritePng(options.output, options.size, options.size, bitmap.bits, error);
  if (!written) {
    std::fprintf(stderr, "kvd-thumbnail: cannot write %s: %s\n", options.output.string().c_str(), error.c_str());
    return kExitFailure;
  }
  ReportOutcome(bitmap.result.outcome, options);
  return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "-h" || std::string_view(argv[i]) == "--help") {
      std::fputs(kUsage, stdout);
      return EXIT_SUCCESS;
    }
  }
  Options options;
  if (const std::optional<std::string> mistake = ParseArguments(argc, argv, options)) {
    std::fprintf(stderr, "kvd-thumbnail: %s\n%s", mistake->c_str(), kUsage);
    return kExitUsage;
  }
  return Run(options);
}
