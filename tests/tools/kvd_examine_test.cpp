#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "container_reader/canvas_size.h"
#include "container_reader/chunk_reader.h"
#include "container_reader/container_header.h"
#include "container_reader/container_writer.h"
#include "support/canvas_documents.h"
#include "support/container_builder.h"

namespace kvd {
namespace {

using testing::Bytes;
using testing::ChunkRecord;
using testing::ContainerBuilder;
using testing::StoredChunk;
using testing::ThumbManifest;
namespace fs = std::filesystem;

struct Case {
  const char* reason;   // the JSON reason key
  const char* message;  // what the user reads, or a telling part of it
  Bytes document;
};

ChunkRecord WithSizes(ChunkRecord record, std::uint32_t compression, std::uint32_t decodedSize) {
  record.compression = compression;
  record.decodedSize = decodedSize;
  return record;
}

Bytes ThumbWith(const std::string& manifest, ChunkRecord chunk) {
  return ContainerBuilder().Manifest(manifest).Chunk(std::move(chunk)).Build();
}

std::string Nested(int depth) {
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += "<a>";
  return "<Dodiru>" + xml + "</Dodiru>";
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The process id keeps suites of several build folders, run at once, apart.
fs::path TestFolder(const std::string& name) {
  return fs::temp_directory_path() / (name + "_" + std::to_string(getpid()));
}

// Runs kvd-inspect with the options on the document; returns its output, or
// "" when it fails.
std::string Inspect(const Bytes& document, const fs::path& folder, const std::string& options) {
  const fs::path input = folder / "document.kvd";
  const fs::path output = folder / "inspect.out";
  std::ofstream(input, std::ios::binary)
      .write(reinterpret_cast<const char*>(document.data()), static_cast<std::streamsize>(document.size()));
  const std::string command = std::string(KVD_INSPECT_PATH) + options + " " + input.string() + " >" + output.string();
  const int status = std::system(command.c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "";
  std::ifstream in(output);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string InspectJson(const Bytes& document, const fs::path& folder) { return Inspect(document, folder, " --json"); }

TEST(KvdInspect, NamesTheReasonForEveryWayALoadEnds) {
  const Bytes picture = testing::PixelBytes(testing::GradientPixels(3, 2));
  const std::string thumb = ThumbManifest(3, 2, "thumb");
  const Case cases[] = {
      {"preview", "stored preview of 3 \u00d7 2 from chunk 'thumb'", testing::ThumbnailDocument(3, 2, testing::GradientPixels(3, 2), true)},
      {"partial-preview", "payload holds 60000 of the 240000 bytes of a 300 \u00d7 200 preview",
       ThumbWith(ThumbManifest(300, 200, "thumb"), StoredChunk("thumb", Bytes(60000, 1)))},
      {"not-a-container", "not a .kvd container", Bytes{'v', 'o', 'x', 'p', 'a', 'c', 'k', ' ', 0, 0}},
      {"header-cut", "ends inside the container header", Bytes{'v', 'o', 'x', 'p', 'a', 'c', 'k', 0, 1, 0, 0}},
      {"manifest-too-long", "manifest length 16777217 is beyond the limit of 16777216 bytes",
       ContainerBuilder().Manifest("<Dodiru/>").ManifestLength(kMaxManifestBytes + 1).Build()},
      {"manifest-cut", "the file ends after 9 of the 100 manifest bytes",
       ContainerBuilder().Manifest("<Dodiru/>").ManifestLength(100).Build()},
      {"manifest-too-deep", "manifest nested too deeply", ContainerBuilder().Manifest(Nested(300)).Build()},
      {"no-root", "no Dodiru element", ContainerBuilder().Manifest("<dodiru/>").Build()},
      {"bad-root-number", "Dodiru height \\\"1e3\\\" is not a whole number",
       ContainerBuilder().Manifest("<Dodiru width=\"1\" height=\"1e3\"><Thumb/></Dodiru>").Build()},
      {"no-thumb", "no Thumb element", ContainerWriter(RootOnlyManifestXml(5, 5)).Bytes()},
      {"bad-thumb-number", "Thumb width \\\" 3\\\" is not a whole number",
       ContainerBuilder().Manifest("<Dodiru><Thumb width=\" 3\" height=\"2\"/></Dodiru>").Build()},
      {"thumb-too-large", "Thumb size 40000 \u00d7 1 is beyond the limit of 32767",
       ThumbWith(ThumbManifest(40000, 1, "thumb"), StoredChunk("thumb", picture))},
      {"thumb-too-large", "Thumb size 10000 \u00d7 10000 is beyond the limit of 67108864 pixels",
       ThumbWith(ThumbManifest(10000, 10000, "thumb"), StoredChunk("thumb", picture))},
      {"thumb-without-pixels", "Thumb size 0 \u00d7 2 has no pixels",
       ThumbWith(ThumbManifest(0, 2, "thumb"), StoredChunk("thumb", picture))},
      {"chunk-not-found", "chunk 'thumb' not found", ThumbWith(thumb, StoredChunk("Thumb", picture))},
      {"chunk-too-large", "chunk 'thumb' is beyond the limit of 268435456 bytes",
       ThumbWith(thumb, WithSizes(StoredChunk("thumb", picture), kCompressionStored, kMaxChunkBytes + 1))},
      {"payload-cut", "the file ends inside the payload of chunk 'thumb'",
       ThumbWith(thumb, WithSizes(StoredChunk("thumb", picture), kCompressionStored, 4000))},
      {"inflate-failed", "chunk 'thumb' does not inflate",
       ThumbWith(thumb, WithSizes(StoredChunk("thumb", picture), kCompressionZlib, 24))},
      {"unknown-compression", "chunk 'thumb' has the unknown compression 7",
       ThumbWith(thumb, WithSizes(StoredChunk("thumb", picture), 7, 24))},
      {"payload-empty", "chunk 'thumb' decodes to no bytes",
       ThumbWith(thumb, WithSizes(StoredChunk("thumb", picture), kCompressionStored, 0))},
  };
  const fs::path folder = TestFolder("kvd_inspect_test");
  fs::create_directories(folder);
  for (const Case& c : cases) {
    const std::string json = Inspect(c.document, folder, " --json");
    EXPECT_NE(json.find("\"reason\": " + Quoted(c.reason)), std::string::npos) << c.reason << "\n" << json;
    EXPECT_NE(json.find(c.message), std::string::npos) << c.message << "\n" << json;
  }
  fs::remove_all(folder);
}

// The tool's own memory file fails to read (EIO) at its first byte: that is
// said, and is no inspection of a document.
TEST(KvdInspect, SaysWhenAReadFailedAndFails) {
  const fs::path output = fs::temp_directory_path() / ("kvd_inspect_read_failed_" + std::to_string(getpid()));
  const int status = std::system((std::string(KVD_INSPECT_PATH) + " --json /proc/self/mem >" + output.string()).c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  std::ifstream in(output);
  const std::string json(std::istreambuf_iterator<char>(in), {});
  EXPECT_NE(json.find("\"reason\": \"read-failed\""), std::string::npos) << json;
  fs::remove(output);
}

// A document's bytes can neither drive the terminal (retitle the window,
// return the cursor to forge a line, reverse the text) nor hide behind a NUL
// or a character drawn as nothing.
TEST(KvdInspect, EscapesControlAndInvisibleCharactersOfTheDocumentInItsText) {
  struct NameCase {
    const char* suffix;  // appended to a chunk named "thumb"
    const char* shown;
  };
  const NameCase names[] = {
      {"\xe2\x80\x8b", "\\xe2\\x80\\x8b"},               // U+200B ZERO WIDTH SPACE
      {"\xc2\xad", "\\xc2\\xad"},                        // U+00AD SOFT HYPHEN, right after C1
      {"\xd8\x9c", "\\xd8\\x9c"},                        // U+061C ARABIC LETTER MARK
      {"\xe2\x80\xae", "\\xe2\\x80\\xae"},               // U+202E RIGHT-TO-LEFT OVERRIDE
      {"\xe2\x81\xa6", "\\xe2\\x81\\xa6"},               // U+2066 LEFT-TO-RIGHT ISOLATE
      {"\xef\xbb\xbf", "\\xef\\xbb\\xbf"},               // U+FEFF ZERO WIDTH NO-BREAK SPACE
      {"\xf3\xa0\x81\x81", "\\xf3\\xa0\\x81\\x81"},      // U+E0041 TAG LATIN CAPITAL LETTER A
      {"\xef\xb8\x8f", "\\xef\\xb8\\x8f"},               // U+FE0F VARIATION SELECTOR-16
      {"\xe3\x85\xa4", "\\xe3\\x85\\xa4"},               // U+3164 HANGUL FILLER
      {"\xe2\x80\xa8", "\\xe2\\x80\\xa8"},               // U+2028 LINE SEPARATOR
      {"\xc3\xa9\xe2\x80\x90", "\xc3\xa9\xe2\x80\x90"},  // visible: U+00E9, U+2010 right after U+200F
  };
  const std::string bin = "\x1b]0;owned\x07\xe2\x80\x8b";
  const std::string manifest = "<Dodiru width=\"1\" height=\"1\"><Thumb width=\"1\" height=\"1\" bin=\"" + bin +
                               "\"/></Dodiru>\r\nbefore" + std::string(1, '\0') + "after \xc2\x9b[2J\x7f";
  ContainerBuilder builder;
  builder.Manifest(manifest).Chunk(StoredChunk("\rforged", Bytes(4, 1)));
  for (const NameCase& name : names) builder.Chunk(StoredChunk(std::string("thumb") + name.suffix, Bytes(4, 1)));
  const fs::path folder = TestFolder("kvd_inspect_escape_test");
  fs::create_directories(folder);
  const std::string text = Inspect(builder.Build(), folder, "");
  fs::remove_all(folder);

  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(c == '\n' || (byte >= 0x20 && byte != 0x7F)) << "byte " << static_cast<int>(byte) << " in\n" << text;
  }
  for (const char* shown :
       {"bin \"\\x1b]0;owned\\x07\\xe2\\x80\\x8b\"", "'\\x0dforged'",
        "</Dodiru>\\x0d\nbefore\\x00after \\xc2\\x9b[2J\\x7f", "chunk '\\x1b]0;owned\\x07\\xe2\\x80\\x8b' not found"}) {
    EXPECT_NE(text.find(shown), std::string::npos) << shown << "\n" << text;
  }
  for (const NameCase& name : names) {
    const std::string shown = std::string("'thumb") + name.shown + "'";
    EXPECT_NE(text.find(shown), std::string::npos) << shown << "\n" << text;
  }
}

TEST(KvdInspect, ShowsTheCanvasSizeOrSaysThereIsNone) {
  const fs::path folder = TestFolder("kvd_inspect_canvas_test");
  fs::create_directories(folder);
  for (const testing::CanvasDocument& document : testing::CanvasDocuments()) {
    const CanvasSize canvas = document.canvas.value_or(CanvasSize{});
    const std::string size = std::to_string(canvas.width) + " \u00d7 " + std::to_string(canvas.height);
    const std::string text = document.canvas ? "canvas        " + size + "\n" : "canvas        none: ";
    const std::string json = document.canvas ? "\"canvas\": {\"width\": " + std::to_string(canvas.width) +
                                                   ", \"height\": " + std::to_string(canvas.height) + "},"
                                             : "\"canvas\": null,";
    EXPECT_NE(Inspect(document.bytes, folder, "").find(text), std::string::npos) << document.name;
    EXPECT_NE(InspectJson(document.bytes, folder).find(json), std::string::npos) << document.name;
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace kvd
