#include "support/container_builder.h"

#include <algorithm>
#include <utility>

#include "container_reader/container_writer.h"

namespace kvd::testing {
namespace {

void AppendWord(Bytes& out, std::uint32_t word) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(word >> shift));
}

// The writer's record, with whatever fields the test wants to lie about.
Bytes EncodeRecord(const ChunkRecord& record) {
  const auto storedLength = static_cast<std::uint32_t>(record.storedPayload.size());
  ChunkHeader header = EncodeChunkHeader(record.name, record.compression, record.storedSize.value_or(storedLength),
                                         record.decodedSize.value_or(storedLength));
  std::fill_n(header.bytes.begin(), kChunkTag.size(), std::uint8_t{0});
  std::copy_n(record.tag.begin(), std::min(record.tag.size(), kChunkTag.size()), header.bytes.begin());
  Bytes out(header.bytes.begin(), header.bytes.end());
  out.insert(out.end(), record.storedPayload.begin(), record.storedPayload.end());
  return out;
}

}  // namespace

ChunkRecord StoredChunk(std::string name, Bytes payload) {
  ChunkRecord record;
  record.name = std::move(name);
  record.storedPayload = std::move(payload);
  return record;
}

ChunkRecord ZlibChunk(std::string name, const Bytes& payload) {
  ChunkRecord record;
  record.name = std::move(name);
  record.compression = 1;
  record.storedPayload = ZlibCompress(payload);
  record.decodedSize = static_cast<std::uint32_t>(payload.size());
  return record;
}

ContainerBuilder& ContainerBuilder::Manifest(std::string xml) {
  manifest_ = std::move(xml);
  return *this;
}

ContainerBuilder& ContainerBuilder::ManifestLength(std::uint32_t length) {
  manifestLength_ = length;
  return *this;
}

ContainerBuilder& ContainerBuilder::HeaderWords(std::uint32_t first, std::uint32_t third) {
  firstWord_ = first;
  thirdWord_ = third;
  return *this;
}

ContainerBuilder& ContainerBuilder::Chunk(ChunkRecord record) {
  const Bytes encoded = EncodeRecord(record);
  tail_.insert(tail_.end(), encoded.begin(), encoded.end());
  return *this;
}

ContainerBuilder& ContainerBuilder::Raw(const Bytes& bytes) {
  tail_.insert(tail_.end(), bytes.begin(), bytes.end());
  return *this;
}

Bytes ContainerBuilder::Build() const {
  Bytes out = EncodeContainerHeader(firstWord_, manifestLength_.value_or(static_cast<std::uint32_t>(manifest_.size())),
                                    thirdWord_);
  out.insert(out.end(), manifest_.begin(), manifest_.end());
  out.insert(out.end(), tail_.begin(), tail_.end());
  return out;
}

std::string ManifestNestedTo(std::size_t depth) {
  std::string chain;
  for (std::size_t level = 1; level < depth; ++level) chain += "<a>";
  for (std::size_t level = 1; level < depth; ++level) chain += "</a>";
  return "<Dodiru width=\"1\" height=\"1\"><Thumb width=\"1\" height=\"1\" bin=\"thumb\"/>" + chain + "</Dodiru>";
}

std::string ThumbManifest(int width, int height, const std::string& bin) {
  return "<Dodiru width=\"1\" height=\"1\"><Thumb width=\"" + std::to_string(width) + "\" height=\"" +
         std::to_string(height) + "\" bin=\"" + bin + "\"/></Dodiru>";
}

Bytes PixelBytes(const std::vector<std::uint32_t>& pixels) {
  Bytes out;
  out.reserve(pixels.size() * 4);
  for (std::uint32_t pixel : pixels) AppendWord(out, pixel);
  return out;
}

Bytes ThumbnailDocument(int width, int height, const std::vector<std::uint32_t>& pixels, bool compressed) {
  const Bytes payload = PixelBytes(pixels);
  return ContainerBuilder()
      .Manifest(ThumbManifest(width, height, "thumb"))
      .Chunk(compressed ? ZlibChunk("thumb", payload) : StoredChunk("thumb", payload))
      .Build();
}

std::vector<std::uint32_t> GradientPixels(int width, int height) {
  std::vector<std::uint32_t> pixels;
  pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto a = static_cast<std::uint32_t>(128 + (x * 7 + y * 3) % 128);
      const auto r = static_cast<std::uint32_t>((x * 255) / (width > 1 ? width - 1 : 1));
      const auto g = static_cast<std::uint32_t>((y * 255) / (height > 1 ? height - 1 : 1));
      const auto b = static_cast<std::uint32_t>((x + y) & 0xFF);
      pixels.push_back((a << 24) | (r << 16) | (g << 8) | b);
    }
  }
  return pixels;
}

}  // namespace kvd::testing
