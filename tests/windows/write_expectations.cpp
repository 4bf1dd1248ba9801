// Writes the documents that the Wine tests hand to KvdThumbDll.dll, and for
// each of them and each edge length the bitmap bits that the native pipeline
// renders, so that the DLL can be held to them byte for byte.
//
//   write_expectations DIR
//
// DIR receives NAME.kvd, NAME.CX.bits (cx * cx * 4 bytes, bottom-up) and
// index.txt, one "NAME.kvd CX NAME.CX.bits" line per expected bitmap. For the
// preview handler it receives NAME.WxH.pane (the pane's w * h pixels, top row
// first, blue, green, red, alpha) and preview-index.txt, one
// "NAME.kvd BACKGROUND W H NAME.WxH.pane" line per pane in the order the
// host sizes the pane, BACKGROUND the pane colour as a hexadecimal COLORREF.
// For the property handler it receives the canvas-size documents and
// canvas-index.txt, one "NAME.kvd WIDTH HEIGHT" line each, 0 0 for a document
// without a canvas size.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "container_reader/manifest.h"
#include "container_reader/memory_stream.h"
#include "container_reader/thumbnail_loader.h"
#include "raster/resample.h"
#include "support/canvas_documents.h"
#include "support/container_builder.h"
#include "thumbnail_provider/preview_pipeline.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace {

using kvd::testing::Bytes;
using kvd::testing::ChunkRecord;
using kvd::testing::ContainerBuilder;
using kvd::testing::GradientPixels;
using kvd::testing::PixelBytes;
using kvd::testing::StoredChunk;
using kvd::testing::ThumbManifest;
using kvd::testing::ThumbnailDocument;

// The shell's usual sizes, the smallest, and one just past a power of two.
constexpr std::uint32_t kEdgeLengths[] = {1, 16, 96, 256, 257};

struct Document {
  std::string name;
  Bytes bytes;
};

Bytes Truncated(Bytes bytes, std::size_t keep) {
  bytes.resize(keep);
  return bytes;
}

ChunkRecord GarbageZlibChunk() {
  ChunkRecord record = StoredChunk("thumb", Bytes(64, 0xA5));
  record.compression = 1;
  record.decodedSize = 4 * 4 * 4;
  return record;
}

Bytes NestedDocument(std::size_t depth) {
  return ContainerBuilder()
      .Manifest(kvd::testing::ManifestNestedTo(depth))
      .Chunk(StoredChunk("thumb", PixelBytes({0xC0336699})))
      .Build();
}

std::vector<Document> Documents() {
  const std::string notANumber = R"(<Dodiru><Thumb width="4x" height="4" bin="thumb"/></Dodiru>)";
  return {
      // Valid previews of several shapes, both payload encodings.
      {"square-stored", ThumbnailDocument(8, 8, GradientPixels(8, 8))},
      {"wide-zlib", ThumbnailDocument(40, 10, GradientPixels(40, 10), true)},
      {"tall-stored", ThumbnailDocument(10, 40, GradientPixels(10, 40))},
      {"odd-ratio-zlib", ThumbnailDocument(25, 11, GradientPixels(25, 11), true)},
      {"large-zlib", ThumbnailDocument(400, 300, GradientPixels(400, 300), true)},
      {"one-pixel", ThumbnailDocument(1, 1, {0x80FF4020})},
      {"one-row", ThumbnailDocument(300, 1, GradientPixels(300, 1))},
      {"one-column-zlib", ThumbnailDocument(1, 300, GradientPixels(1, 300), true)},
      // Not containers: the checkerboard.
      {"not-a-container", Bytes{'P', 'K', 3, 4, 'n', 'o', 't', ' ', 'k', 'v', 'd'}},
      {"empty", Bytes{}},
      // Hostile or broken containers.
      {"manifest-length-beyond-file",
       ContainerBuilder().Manifest(ThumbManifest(4, 4, "thumb")).ManifestLength(0xFFFFFFF0).Build()},
      {"chunk-missing",
       ContainerBuilder()
           .Manifest(ThumbManifest(4, 4, "thumb"))
           .Chunk(StoredChunk("other", PixelBytes(GradientPixels(4, 4))))
           .Build()},
      {"payload-truncated", Truncated(ThumbnailDocument(16, 16, GradientPixels(16, 16)), 600)},
      {"size-not-a-number",
       ContainerBuilder().Manifest(notANumber).Chunk(StoredChunk("thumb", PixelBytes(GradientPixels(4, 4)))).Build()},
      {"zlib-garbage", ContainerBuilder().Manifest(ThumbManifest(4, 4, "thumb")).Chunk(GarbageZlibChunk()).Build()},
      // Nesting at the limit renders; deeper is refused before parsing.
      {"nested-at-limit", NestedDocument(kvd::kMaxManifestNesting)},
      {"nested-beyond-limit", NestedDocument(kvd::kMaxManifestNesting + 1)},
      {"nested-100000", NestedDocument(100000)},
      {"thumb-too-large",
       ContainerBuilder()
           .Manifest(ThumbManifest(40000, 40000, "thumb"))
           .Chunk(StoredChunk("thumb", PixelBytes(GradientPixels(4, 4))))
           .Build()},
  };
}

bool WriteFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  file.close();
  return !file.fail();
}

// The preview pane: a translucent gradient, wider than the first pane and
// narrower than the second, on a colour no default would give.
constexpr char kPreviewDocument[] = "large-zlib";
constexpr std::uint32_t kPaneColour = 0x00336699;  // COLORREF: 0x00BBGGRR
struct PaneSize {
  std::int32_t width, height;
};
constexpr PaneSize kPaneSizes[] = {{300, 200}, {90, 120}};

ruta::ArgbPixel PixelFromColourRef(std::uint32_t colour) {
  return ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}

bool WritePreviewExpectations(const std::filesystem::path& dir, const Bytes& document) {
  std::ofstream index(dir / "preview-index.txt", std::ios::trunc);
  for (const PaneSize pane : kPaneSizes) {
    kvd::MemoryStream stream(document);
    ruta::CImage32 image;
    const kvd::LoadOutcome outcome = kvd::LoadThumbnailImage(image, stream);
    ruta::CImage32 canvas;
    if (outcome != kvd::LoadOutcome::Thumbnail ||
        kvd::RenderPreview(ruta::PictureOf(image), pane.width, pane.height, PixelFromColourRef(kPaneColour), canvas) !=
            kvd::RenderStatus::Ok) {
      std::fprintf(stderr, "%s in %dx%d: no preview rendered\n", kPreviewDocument, pane.width, pane.height);
      return false;
    }
    const std::string size = std::to_string(pane.width) + "x" + std::to_string(pane.height);
    const std::string paneFile = std::string(kPreviewDocument) + "." + size + ".pane";
    const auto bytes = static_cast<std::size_t>(ruta::PixelCount(canvas)) * sizeof(ruta::ArgbPixel);
    if (!WriteFile(dir / paneFile, reinterpret_cast<const std::uint8_t*>(canvas.pixels), bytes)) return false;
    index << kPreviewDocument << ".kvd " << std::hex << kPaneColour << std::dec << ' ' << pane.width << ' '
          << pane.height << ' ' << paneFile << '\n';
  }
  index.close();
  return !index.fail();
}

bool WriteCanvasDocuments(const std::filesystem::path& dir) {
  std::ofstream index(dir / "canvas-index.txt", std::ios::trunc);
  for (const kvd::testing::CanvasDocument& document : kvd::testing::CanvasDocuments()) {
    const std::string documentFile = document.name + ".kvd";
    if (!WriteFile(dir / documentFile, document.bytes.data(), document.bytes.size())) return false;
    const kvd::CanvasSize canvas = document.canvas.value_or(kvd::CanvasSize{});
    index << documentFile << ' ' << canvas.width << ' ' << canvas.height << '\n';
  }
  index.close();
  return !index.fail();
}

bool WriteExpectations(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  if (!WriteCanvasDocuments(dir)) return false;
  std::ofstream index(dir / "index.txt", std::ios::trunc);
  for (const Document& document : Documents()) {
    const std::string documentFile = document.name + ".kvd";
    if (!WriteFile(dir / documentFile, document.bytes.data(), document.bytes.size())) return false;
    for (const std::uint32_t cx : kEdgeLengths) {
      kvd::MemoryStream stream(document.bytes);
      const kvd::ThumbnailBitmap bitmap = kvd::RenderThumbnailBitmap(&stream, cx);
      if (bitmap.result.status != kvd::RenderStatus::Ok) {
        std::fprintf(stderr, "%s at %u: the pipeline rendered nothing\n", document.name.c_str(), cx);
        return false;
      }
      const std::string bitsFile = document.name + "." + std::to_string(cx) + ".bits";
      if (!WriteFile(dir / bitsFile, bitmap.bits.data(), bitmap.bits.size())) return false;
      index << documentFile << ' ' << cx << ' ' << bitsFile << '\n';
    }
    if (document.name == kPreviewDocument && !WritePreviewExpectations(dir, document.bytes)) return false;
  }
  index.close();
  return !index.fail();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_expectations DIR\n");
    return 2;
  }
  if (!WriteExpectations(argv[1])) {
    std::fprintf(stderr, "write_expectations: could not write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
