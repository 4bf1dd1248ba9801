// kvd-pack: writes a .kvd container whose stored preview is a PNG picture,
// with extra chunks around it as a real document has its layers.

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "command_line.h"
#include "container_reader/container_writer.h"
#include "container_reader/thumbnail_loader.h"
#include "png_reader.h"

namespace {

using kvd::tools::kExitFailure;
using kvd::tools::kExitUsage;

constexpr const char* kUsage =
    "usage: kvd-pack [OPTIONS] PREVIEW.png OUTPUT.kvd\n"
    "       kvd-pack --no-thumb [OPTIONS] OUTPUT.kvd\n"
    "  Writes a .kvd container whose stored preview is the picture PREVIEW.png.\n"
    "  --chunk NAME             name of the preview's chunk, UTF-8 of up to 64 bytes\n"
    "                           (default thumb)\n"
    "  --zlib                   store the preview zlib-compressed (default: as it is)\n"
    "  --before NAME:BYTES[:zlib]\n"
    "                           add a chunk of BYTES filler bytes before the preview,\n"
    "                           stored or zlib-compressed; may be repeated\n"
    "  --after NAME:BYTES[:zlib]  the same, after the preview\n"
    "  --root-size WxH          the document's size in the manifest\n"
    "                           (default: the preview's size, or 1x1)\n"
    "  --no-thumb               write no Thumb element and no preview chunk\n"
    "  -h, --help               show this help\n";

// A filler chunk stands in for a layer; more than this is not a sample.
constexpr std::uint64_t kMaxFillerBytes = 1024u * 1024 * 1024;

struct ExtraChunk {
  std::string name;
  std::uint32_t size = 0;
  std::uint32_t compression = kvd::kCompressionStored;
};

struct Options {
  std::string chunkName = "thumb";
  std::uint32_t compression = kvd::kCompressionStored;
  std::vector<ExtraChunk> before;
  std::vector<ExtraChunk> after;
  std::optional<std::pair<std::int32_t, std::int32_t>> rootSize;
  bool withThumb = true;
  std::filesystem::path preview;
  std::filesystem::path output;
};

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<ExtraChunk> ParseExtraChunk(std::string_view text) {
  ExtraChunk chunk;
  constexpr std::string_view kZlibSuffix = ":zlib";
  if (text.ends_with(kZlibSuffix)) {
    chunk.compression = kvd::kCompressionZlib;
    text.remove_suffix(kZlibSuffix.size());
  }
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto size = ParseNumber<std::uint64_t>(text.substr(colon + 1));
  if (!size || *size > kMaxFillerBytes) return std::nullopt;
  if (colon > kvd::kChunkNameSize) return std::nullopt;
  chunk.name = text.substr(0, colon);
  chunk.size = static_cast<std::uint32_t>(*size);
  return chunk;
}

std::optional<std::pair<std::int32_t, std::int32_t>> ParseRootSize(std::string_view text) {
  const std::size_t x = text.find('x');
  if (x == std::string_view::npos) return std::nullopt;
  const auto width = ParseNumber<std::int32_t>(text.substr(0, x));
  const auto height = ParseNumber<std::int32_t>(text.substr(x + 1));
  if (!width || !height) return std::nullopt;
  return std::pair{*width, *height};
}

// Fills options from the arguments; on a mistake returns the message to show.
std::optional<std::string> ParseArguments(int argc, char** argv, Options& options) {
  std::vector<std::string_view> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const bool takesValue =
        argument == "--chunk" || argument == "--before" || argument == "--after" || argument == "--root-size";
    if (takesValue && i + 1 == argc) return "missing value after " + std::string(argument);
    if (argument == "--chunk") {
      options.chunkName = argv[++i];
      if (options.chunkName.size() > kvd::kChunkNameSize) return "a chunk name has at most 64 bytes";
    } else if (argument == "--zlib") {
      options.compression = kvd::kCompressionZlib;
    } else if (argument == "--before" || argument == "--after") {
      const std::optional<ExtraChunk> chunk = ParseExtraChunk(argv[++i]);
      if (!chunk) return std::string(argument) + " takes NAME:BYTES or NAME:BYTES:zlib, NAME up to 64 bytes, BYTES up to 1 GiB";
      (argument == "--before" ? options.before : options.after).push_back(*chunk);
    } else if (argument == "--root-size") {
      options.rootSize = ParseRootSize(argv[++i]);
      if (!options.rootSize) return "--root-size takes WIDTHxHEIGHT, for example 1600x1000";
    } else if (argument == "--no-thumb") {
      options.withThumb = false;
    } else if (argument.size() > 1 && argument.front() == '-') {
      return "unknown option " + std::string(argument);
    } else {
      positional.push_back(argument);
    }
  }
  const std::size_t wanted = options.withThumb ? 2 : 1;
  if (positional.size() != wanted) {
    return options.withThumb ? "PREVIEW.png and OUTPUT.kvd are required" : "--no-thumb takes OUTPUT.kvd only";
  }
  if (options.withThumb) options.preview = positional.front();
  options.output = positional.back();
  return std::nullopt;
}

// Layer-like filler: a gradient with some noise, so that zlib has work to do
// but still finds something to compress.
std::vector<std::uint8_t> FillerBytes(std::uint32_t size) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t noise = 2463534242u;
  for (std::uint32_t i = 0; i < size; ++i) {
    noise ^= noise << 13;
    noise ^= noise >> 17;
    noise ^= noise << 5;
    bytes[i] = static_cast<std::uint8_t>(((i / 4) & 0xFF) ^ (noise & 0x0F));
  }
  return bytes;
}

void AddChunks(kvd::ContainerWriter& writer, const std::vector<ExtraChunk>& chunks) {
  for (const ExtraChunk& chunk : chunks) writer.Chunk(chunk.name, chunk.compression, FillerBytes(chunk.size));
}

std::string Manifest(const Options& options, const kvd::BgraPicture& picture) {
  const auto width = static_cast<std::int32_t>(picture.width);
  const auto height = static_cast<std::int32_t>(picture.height);
  if (!options.withThumb) {
    const auto [rootWidth, rootHeight] = options.rootSize.value_or(std::pair{1, 1});
    return kvd::RootOnlyManifestXml(rootWidth, rootHeight);
  }
  const auto [rootWidth, rootHeight] = options.rootSize.value_or(std::pair{width, height});
  return kvd::ThumbManifestXml(rootWidth, rootHeight, width, height, options.chunkName);
}

// A preview the reader would refuse makes a document without a thumbnail.
constexpr kvd::PngSizeLimit kReaderLimit{static_cast<std::uint64_t>(kvd::kMaxThumbSide),
                                         static_cast<std::uint64_t>(kvd::kMaxThumbPixels)};

bool WriteFile(const std::filesystem::path& path, const kvd::ContainerWriter& writer) {
  std::ofstream out(path, std::ios::binary);
  writer.WriteTo(out);
  out.close();
  if (out) return true;
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  return false;
}

int Run(const Options& options) {
  kvd::BgraPicture picture;
  std::string error;
  if (options.withThumb && !kvd::ReadPng(options.preview, picture, error, kReaderLimit)) {
    std::fprintf(stderr, "kvd-pack: cannot read %s: %s\n", options.preview.c_str(), error.c_str());
    return kExitFailure;
  }
  kvd::ContainerWriter writer(Manifest(options, picture));
  AddChunks(writer, options.before);
  if (options.withThumb) writer.Chunk(options.chunkName, options.compression, picture.pixels);
  AddChunks(writer, options.after);
  if (!WriteFile(options.output, writer)) {
    std::fprintf(stderr, "kvd-pack: cannot write %s\n", options.output.c_str());
    return kExitFailure;
  }
  return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  if (kvd::tools::AsksForHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return EXIT_SUCCESS;
  }
  Options options;
  if (const std::optional<std::string> mistake = ParseArguments(argc, argv, options)) {
    std::fprintf(stderr, "kvd-pack: %s\n%s", mistake->c_str(), kUsage);
    return kExitUsage;
  }
  try {
    return Run(options);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "kvd-pack: %s\n", failure.what());
    return kExitFailure;
  }
}
