#include "container_reader/container_writer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "container_reader/memory_stream.h"
#include "container_reader/thumbnail_loader.h"
#include "support/container_builder.h"

namespace kvd {
namespace {

using testing::Bytes;

TEST(ContainerWriter, WhatItWritesTheReaderReadsBack) {
  const std::string bin = "thumb & \"preview\" <1>";
  const std::vector<std::uint32_t> pixels = testing::GradientPixels(7, 5);
  const Bytes picture = testing::PixelBytes(pixels);
  const Bytes layer(5000, 0x5A);
  for (const std::uint32_t compression : {kCompressionStored, kCompressionZlib}) {
    const Bytes document = ContainerWriter(ThumbManifestXml(70, 50, 7, 5, bin))
                               .Chunk("layer0", kCompressionZlib, layer)
                               .Chunk(bin, compression, picture)
                               .Chunk("layer1", kCompressionStored, layer)
                               .Bytes();
    ruta::CImage32 image;
    MemoryStream documentStream(document);
    ASSERT_EQ(LoadThumbnailImage(image, documentStream), LoadOutcome::Thumbnail) << compression;
    ASSERT_EQ(image.width, 7);
    ASSERT_EQ(image.height, 5);
    EXPECT_EQ(std::memcmp(image.pixels, pixels.data(), picture.size()), 0);

    MemoryStream chunks(document);
    chunks.Skip(static_cast<std::uint32_t>(kContainerHeaderSize + ThumbManifestXml(70, 50, 7, 5, bin).size()));
    ChunkHeader header;
    ByteBuffer payload;
    ASSERT_TRUE(FindChunk(chunks, "layer1", header, payload));
    EXPECT_EQ(Bytes(payload.begin(), payload.end()), layer);
    EXPECT_EQ(chunks.Position(), document.size());
  }
  ContainerWriter writer(RootOnlyManifestXml(1, 1));
  EXPECT_THROW(writer.Chunk(std::string(65, 'n'), kCompressionStored, layer), std::invalid_argument);
  EXPECT_THROW(writer.Chunk(std::string("a\0b", 3), kCompressionStored, layer), std::invalid_argument);
  EXPECT_THROW(writer.Chunk("x", 2, layer), std::invalid_argument);
}

// The bin attribute is the only way to the preview: a name the manifest
// cannot carry is refused rather than written into a document without one.
TEST(ContainerWriter, ThePreviewsChunkNameReadsBackOrIsRefused) {
  const Bytes picture = testing::PixelBytes(testing::GradientPixels(2, 2));
  for (const std::string& bin : std::initializer_list<std::string>{"caf\xc3\xa9", "\xf0\x9f\x96\xbc & <>", std::string(64, 'n')}) {
    const Bytes document = ContainerWriter(ThumbManifestXml(2, 2, 2, 2, bin)).Chunk(bin, kCompressionZlib, picture).Bytes();
    MemoryStream stream(document);
    ruta::CImage32 image;
    const LoadReport report = LoadThumbnailImageWithReport(image, stream);
    EXPECT_EQ(report.outcome, LoadOutcome::Thumbnail) << bin;
    EXPECT_EQ(report.bin, bin);
  }
  for (const char* bin : {"\xf1&", "caf\xe9", "\xed\xa0\x80", "\xc0\xaf"}) {
    EXPECT_THROW(ThumbManifestXml(2, 2, 2, 2, bin), std::invalid_argument) << bin;
  }
}

}  // namespace
}  // namespace kvd
