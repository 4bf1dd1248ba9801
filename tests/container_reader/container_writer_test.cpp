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
    Bytes payload;
    ASSERT_TRUE(FindChunk(chunks, "layer1", header, payload));
    EXPECT_EQ(payload, layer);
    EXPECT_EQ(chunks.Position(), document.size());
  }
  ContainerWriter writer(RootOnlyManifestXml(1, 1));
  EXPECT_THROW(writer.Chunk(std::string(65, 'n'), kCompressionStored, layer), std::invalid_argument);
  EXPECT_THROW(writer.Chunk(std::string("a\0b", 3), kCompressionStored, layer), std::invalid_argument);
  EXPECT_THROW(writer.Chunk("x", 2, layer), std::invalid_argument);
}

}  // namespace
}  // namespace kvd
