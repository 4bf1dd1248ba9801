#include "bench_pictures.h"

#include <zlib.h>

#include <cstdio>
#include <random>

#include "support/container_builder.h"

namespace kvd::bench {
namespace {

using kvd::testing::Bytes;
using kvd::testing::ContainerBuilder;

constexpr std::size_t kLayerBytes = 4u << 20;
constexpr std::uint64_t kGibibyte = 1ull << 30;
constexpr int kHugeSide = 8192;
constexpr std::size_t kHugePayloadBytes = 1u << 20;

Bytes LayerBytes(std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(kLayerBytes);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i / 64) ^ (random() & 7));
  return bytes;
}

// The manifest naming the preview, then the four layers if asked for; the
// caller adds the preview chunk.
ContainerBuilder PreviewDocument(bool withLayers) {
  ContainerBuilder builder;
  builder.Manifest(kvd::testing::ThumbManifest(kPreviewWidth, kPreviewHeight, "preview"));
  if (withLayers) {
    builder.Chunk(kvd::testing::StoredChunk("layer0", LayerBytes(1)));
    builder.Chunk(kvd::testing::ZlibChunk("layer1", LayerBytes(2)));
    builder.Chunk(kvd::testing::StoredChunk("layer2", LayerBytes(3)));
    builder.Chunk(kvd::testing::ZlibChunk("layer3", LayerBytes(4)));
  }
  return builder;
}

Bytes PreviewPixelBytes() {
  return kvd::testing::PixelBytes(PaintingPixels(kPreviewWidth, kPreviewHeight, 9));
}

}  // namespace

Pixels AlphaRunPixels(std::size_t count, std::uint32_t seed) {
  std::mt19937 random(seed);
  Pixels pixels(count);
  std::size_t i = 0;
  while (i < count) {
    const std::size_t run = 1 + random() % 48;
    const auto kind = random() % 3;
    for (std::size_t end = std::min(count, i + run); i < end; ++i) {
      const std::uint32_t alpha = kind == 0 ? 0 : kind == 1 ? 255 : 1 + static_cast<std::uint32_t>(random() % 254);
      pixels[i] = (alpha << 24) | (static_cast<std::uint32_t>(random()) & 0xFFFFFF);
    }
  }
  return pixels;
}

Pixels PaintingPixels(int width, int height, std::uint32_t seed) {
  std::mt19937 random(seed);
  Pixels pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t noise = random() & 3;
      const std::uint32_t r = static_cast<std::uint32_t>(x * 255 / width) ^ noise;
      const std::uint32_t g = static_cast<std::uint32_t>(y * 255 / height);
      const std::uint32_t b = static_cast<std::uint32_t>((x + y) & 255) | noise;
      const std::uint32_t a = (x < width / 8 && y < height / 8) ? 0 : 255;
      pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
          (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
  return pixels;
}

Pixels Premultiplied(const Pixels& pixels) {
  Pixels out(pixels.size());
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const std::uint32_t p = pixels[i];
    const std::uint32_t a = p >> 24;
    auto scale = [a](std::uint32_t c) { return (c * a + 127) / 255; };
    out[i] = (a << 24) | (scale((p >> 16) & 255) << 16) | (scale((p >> 8) & 255) << 8) | scale(p & 255);
  }
  return out;
}

std::vector<std::uint8_t> RealisticDocument() {
  return PreviewDocument(true).Chunk(kvd::testing::ZlibChunk("preview", PreviewPixelBytes())).Build();
}

std::vector<std::uint8_t> PreviewPayload() {
  return kvd::testing::ZlibChunk("preview", PreviewPixelBytes()).storedPayload;
}

std::vector<std::uint8_t> HugeThumbDocument() {
  return ContainerBuilder()
      .Manifest(kvd::testing::ThumbManifest(kHugeSide, kHugeSide, "thumb"))
      .Chunk(kvd::testing::StoredChunk("thumb", Bytes(kHugePayloadBytes, 0x80)))
      .Build();
}

bool WriteGibibyteDocument(const std::string& path) {
  // The layer's header claims 1 GiB; the file skips that far (a hole) and
  // the preview record follows.
  kvd::testing::ChunkRecord layer = kvd::testing::StoredChunk("layer", {});
  layer.storedSize = static_cast<std::uint32_t>(kGibibyte);
  layer.decodedSize = static_cast<std::uint32_t>(kGibibyte);
  const Bytes head = PreviewDocument(false).Chunk(layer).Build();
  const Bytes manifestOnly = PreviewDocument(false).Build();
  const Bytes withPreview = PreviewDocument(false).Chunk(kvd::testing::ZlibChunk("preview", PreviewPixelBytes())).Build();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(head.data(), 1, head.size(), file) == head.size();
  ok = ok && std::fseek(file, static_cast<long>(kGibibyte), SEEK_CUR) == 0;
  const std::size_t previewRecord = withPreview.size() - manifestOnly.size();
  ok = ok && std::fwrite(withPreview.data() + manifestOnly.size(), 1, previewRecord, file) == previewRecord;
  return std::fclose(file) == 0 && ok;
}

}  // namespace kvd::bench
