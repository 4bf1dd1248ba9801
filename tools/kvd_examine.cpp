// kvd-inspect: shows what the thumbnail loader reads in a .kvd document (the
// header words, the manifest, the Dodiru and Thumb attributes, the chunk
// records) and why the document shows the preview it does. Everything comes
// from the reader's own functions; this file only lays it out.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "container_reader/canvas_size.h"
#include "container_reader/chunk_reader.h"
#include "container_reader/container_header.h"
#include "container_reader/file_stream.h"
#include "container_reader/manifest.h"
#include "container_reader/thumbnail_loader.h"
#include "counting_stream.h"
#include "json_text.h"
#include "load_report_text.h"
#include "terminal_text.h"

namespace {

using kvd::tools::kExitFailure;
using kvd::tools::kExitUsage;

constexpr const char* kUsage =
    "usage: kvd-inspect [--json] FILE\n"
    "  Shows what the thumbnail loader reads in the .kvd document FILE and why it\n"
    "  shows the preview it does.\n"
    "  --json      print one JSON object instead (its fields are listed in README.md)\n"
    "  -h, --help  show this help\n";

struct ChunkRow {
  std::uint64_t offset = 0;
  kvd::ChunkHeader header;
  kvd::PayloadDecoding decoding;
};

struct Inspection {
  std::string file;
  bool container = false;
  std::optional<kvd::HeaderWords> words;
  std::optional<kvd::ManifestText> manifest;
  std::optional<kvd::ManifestFields> fields;
  std::vector<ChunkRow> chunks;
  std::optional<kvd::CanvasSize> canvas;
  kvd::LoadReport report;
};

void SkipForward(kvd::ByteStream& stream, std::uint64_t count) {
  constexpr std::uint64_t kLargestSkip = std::numeric_limits<std::uint32_t>::max();
  for (; count > kLargestSkip; count -= kLargestSkip) stream.Skip(static_cast<std::uint32_t>(kLargestSkip));
  stream.Skip(static_cast<std::uint32_t>(count));
}

// Decodes the payload behind the header at offset as FindChunk would if this
// were the wanted chunk, from a stream of its own so that the walk over the
// records goes on exactly as FindChunk's does. Keeps none of the bytes.
kvd::PayloadDecoding DecodeAt(const std::filesystem::path& path, std::uint64_t payloadOffset,
                              const kvd::ChunkHeader& header) {
  kvd::FileStream stream(path);
  SkipForward(stream, payloadOffset);
  kvd::ByteBuffer none;
  return kvd::DecodeChunkPayload(stream, header, none, 0);
}

std::vector<ChunkRow> ListChunks(const std::filesystem::path& path, kvd::CountingStream& stream) {
  std::vector<ChunkRow> rows;
  kvd::ChunkIterator records(stream);
  kvd::ChunkHeader header;
  while (records.Next(header)) {
    const std::uint64_t payloadOffset = stream.Position();
    rows.push_back({payloadOffset - kvd::kChunkHeaderSize, header, DecodeAt(path, payloadOffset, header)});
    records.SkipPayload(header);
  }
  return rows;
}

Inspection Inspect(const std::filesystem::path& path) {
  Inspection inspection;
  inspection.file = path.string();
  {
    kvd::FileStream file(path);
    kvd::CountingStream stream(file);
    inspection.container = kvd::ReadMagic(stream);
    if (inspection.container) inspection.words = kvd::ReadHeaderWords(stream);
    if (inspection.words) {
      inspection.manifest = kvd::ReadManifestText(stream, inspection.words->manifestLength);
      if (inspection.manifest->result == kvd::ManifestRead::Complete) {
        inspection.fields = kvd::ParseManifest(inspection.manifest->text.data());
        if (inspection.fields) inspection.canvas = kvd::CanvasSizeOf(*inspection.fields);
      }
      if (inspection.manifest->result != kvd::ManifestRead::Cut) inspection.chunks = ListChunks(path, stream);
    }
  }
  kvd::FileStream file(path);
  ruta::CImage32 image;
  inspection.report = kvd::LoadThumbnailImageWithReport(image, file);
  return inspection;
}

std::string_view ManifestString(const kvd::ManifestText& manifest) {
  return {manifest.text.data(), manifest.delivered};
}

const char* CompressionName(std::uint32_t compression) {
  if (compression == kvd::kCompressionStored) return "stored";
  if (compression == kvd::kCompressionZlib) return "zlib";
  return "unknown";
}

std::string PayloadText(const kvd::PayloadDecoding& decoding) {
  switch (decoding.result) {
    case kvd::PayloadResult::Decoded:
      return "decodes to " + std::to_string(decoding.decodedLength) + " bytes";
    case kvd::PayloadResult::TooLarge:
      return "too large to decode";
    case kvd::PayloadResult::Cut:
      return "cut short by the end of the file";
    case kvd::PayloadResult::InflateFailed:
      return "does not inflate";
    case kvd::PayloadResult::UnknownCompression:
      return "unknown compression";
  }
  return "";
}

// What the document holds, escaped for the terminal.
std::string Shown(std::string_view text) { return kvd::TerminalText(text); }

void PrintText(const Inspection& inspection) {
  std::printf("file          %s\n", Shown(inspection.file).c_str());
  std::printf("magic         %s\n", inspection.container ? "voxpack (a .kvd container)" : "none: not a .kvd container");
  if (inspection.container && !inspection.words) std::printf("header words  cut short by the end of the file\n");
  if (inspection.words) {
    std::printf("header words  %u, %u (manifest length), %u\n", inspection.words->first,
                inspection.words->manifestLength, inspection.words->third);
  }
  if (inspection.manifest) {
    if (inspection.manifest->result == kvd::ManifestRead::TooLong) {
      std::printf("manifest      not read: longer than %u bytes\n", kvd::kMaxManifestBytes);
    } else {
      const std::string text = kvd::TerminalText(ManifestString(*inspection.manifest), kvd::TerminalLayout::Lines);
      std::printf("manifest      %u bytes%s\n%s%s", inspection.manifest->delivered,
                  inspection.manifest->result == kvd::ManifestRead::Cut ? ", cut short by the end of the file" : "",
                  text.c_str(), text.ends_with('\n') ? "" : "\n");
    }
  }
  if (inspection.fields && inspection.fields->hasRoot) {
    std::printf("Dodiru        width \"%s\", height \"%s\"\n", Shown(inspection.fields->rootWidth).c_str(),
                Shown(inspection.fields->rootHeight).c_str());
  }
  if (inspection.fields && inspection.fields->hasThumb) {
    std::printf("Thumb         width \"%s\", height \"%s\", bin \"%s\"\n", Shown(inspection.fields->thumbWidth).c_str(),
                Shown(inspection.fields->thumbHeight).c_str(), Shown(inspection.fields->bin).c_str());
  }
  if (inspection.words && inspection.manifest->result != kvd::ManifestRead::Cut) {
    std::printf("chunks        %zu\n", inspection.chunks.size());
    if (!inspection.chunks.empty()) {
      std::printf("  %-10s %-11s %10s %10s  %-34s %s\n", "offset", "compression", "stored", "decoded", "payload", "name");
    }
    for (const ChunkRow& row : inspection.chunks) {
      const std::string name = Shown(row.header.name());
      std::printf("  %-10llu %-11s %10u %10u  %-34s '%s'\n", static_cast<unsigned long long>(row.offset),
                  CompressionName(row.header.compression()), row.header.storedSize(), row.header.decodedSize(),
                  PayloadText(row.decoding).c_str(), name.c_str());
    }
  }
  if (inspection.canvas) {
    std::printf("canvas        %u \u00d7 %u\n", inspection.canvas->width, inspection.canvas->height);
  } else {
    std::printf("canvas        none: no positive Dodiru width and height\n");
  }
  std::printf("outcome       %s: %s\n", kvd::LoadOutcomeKey(inspection.report.outcome),
              Shown(kvd::DescribeLoad(inspection.report)).c_str());
}

std::string JsonOrNull(bool present, const std::string& json) { return present ? json : "null"; }

std::string JsonChunk(const ChunkRow& row) {
  const bool decodes = row.decoding.result == kvd::PayloadResult::Decoded;
  return "{\"offset\": " + std::to_string(row.offset) + ", \"name\": " + kvd::JsonString(row.header.name()) +
         ", \"compression\": " + std::to_string(row.header.compression()) +
         ", \"storedSize\": " + std::to_string(row.header.storedSize()) +
         ", \"decodedSize\": " + std::to_string(row.header.decodedSize()) +
         ", \"decodes\": " + (decodes ? "true" : "false") +
         ", \"decodedBytes\": " + JsonOrNull(decodes, std::to_string(row.decoding.decodedLength)) +
         ", \"problem\": " + JsonOrNull(!decodes, kvd::JsonString(kvd::PayloadResultKey(row.decoding.result))) + "}";
}

void PrintJson(const Inspection& inspection) {
  const kvd::HeaderWords words = inspection.words.value_or(kvd::HeaderWords{});
  const bool manifestRead = inspection.manifest && inspection.manifest->result == kvd::ManifestRead::Complete;
  const bool hasRoot = inspection.fields && inspection.fields->hasRoot;
  const bool hasThumb = inspection.fields && inspection.fields->hasThumb;
  const kvd::ManifestFields fields = inspection.fields.value_or(kvd::ManifestFields{});
  std::string chunks;
  for (const ChunkRow& row : inspection.chunks) chunks += (chunks.empty() ? "\n    " : ",\n    ") + JsonChunk(row);
  std::string json = "{\n";
  json += "  \"file\": " + kvd::JsonString(inspection.file) + ",\n";
  json += "  \"container\": " + std::string(inspection.container ? "true" : "false") + ",\n";
  json += "  \"header\": " +
          JsonOrNull(inspection.words.has_value(),
                     "{\"word1\": " + std::to_string(words.first) + ", \"manifestLength\": " +
                         std::to_string(words.manifestLength) + ", \"word3\": " + std::to_string(words.third) + "}") +
          ",\n";
  json += "  \"manifest\": " +
          JsonOrNull(manifestRead, manifestRead ? kvd::JsonString(ManifestString(*inspection.manifest)) : "") + ",\n";
  json += "  \"root\": " +
          JsonOrNull(hasRoot, "{\"width\": " + kvd::JsonString(fields.rootWidth) +
                                  ", \"height\": " + kvd::JsonString(fields.rootHeight) + "}") +
          ",\n";
  json += "  \"thumb\": " +
          JsonOrNull(hasThumb, "{\"width\": " + kvd::JsonString(fields.thumbWidth) + ", \"height\": " +
                                   kvd::JsonString(fields.thumbHeight) + ", \"bin\": " + kvd::JsonString(fields.bin) +
                                   "}") +
          ",\n";
  const kvd::CanvasSize canvas = inspection.canvas.value_or(kvd::CanvasSize{});
  json += "  \"canvas\": " +
          JsonOrNull(inspection.canvas.has_value(), "{\"width\": " + std::to_string(canvas.width) +
                                                        ", \"height\": " + std::to_string(canvas.height) + "}") +
          ",\n";
  json += "  \"chunks\": [" + chunks + (chunks.empty() ? "" : "\n  ") + "],\n";
  json += "  \"outcome\": {\"result\": " + kvd::JsonString(kvd::LoadOutcomeKey(inspection.report.outcome)) +
          ", \"reason\": " + kvd::JsonString(kvd::LoadReasonKey(inspection.report)) +
          ", \"message\": " + kvd::JsonString(kvd::DescribeLoad(inspection.report)) + "}\n";
  json += "}\n";
  std::fputs(json.c_str(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (kvd::tools::AsksForHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return EXIT_SUCCESS;
  }
  bool json = false;
  std::vector<std::string_view> files;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--json") {
      json = true;
    } else if (argument.size() > 1 && argument.front() == '-') {
      std::fprintf(stderr, "kvd-inspect: unknown option %s\n%s", argv[i], kUsage);
      return kExitUsage;
    } else {
      files.push_back(argument);
    }
  }
  if (files.size() != 1) {
    std::fprintf(stderr, "kvd-inspect: exactly one FILE is required\n%s", kUsage);
    return kExitUsage;
  }
  const std::filesystem::path path(files.front());
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    std::fprintf(stderr, "kvd-inspect: cannot read %s: it is a directory\n", path.c_str());
    return kExitFailure;
  }
  if (!kvd::FileStream(path).IsOpen()) {
    std::fprintf(stderr, "kvd-inspect: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
    return kExitFailure;
  }
  const Inspection inspection = Inspect(path);
  json ? PrintJson(inspection) : PrintText(inspection);
  // What was read before the failure is shown, but it is not the document.
  return inspection.report.outcome == kvd::LoadOutcome::ReadFailed ? kExitFailure : EXIT_SUCCESS;
}
