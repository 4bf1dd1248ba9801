#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "container_reader/file_stream.h"
#include "container_reader/memory_stream.h"

namespace kvd {
namespace {

// Both stream kinds must behave alike: short reads at the end, skips past it.
class ByteStreamTest : public ::testing::TestWithParam<bool> {
 protected:
  std::unique_ptr<ByteStream> Open(const std::vector<std::uint8_t>& bytes) {
    if (!GetParam()) return std::make_unique<MemoryStream>(bytes);
    // Each case runs in a process of its own, several at once: the process id
    // keeps their files apart.
    path_ = std::filesystem::temp_directory_path() / ("kvd_stream_test_" + std::to_string(getpid()) + ".bin");
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    auto stream = std::make_unique<FileStream>(path_);
    EXPECT_TRUE(stream->IsOpen());
    return stream;
  }
  void TearDown() override {
    if (!path_.empty()) std::filesystem::remove(path_);
  }

 private:
  std::filesystem::path path_;
};

TEST_P(ByteStreamTest, ReadDeliversWhatIsLeftAndThenNothing) {
  auto stream = Open({1, 2, 3, 4, 5});
  std::array<std::uint8_t, 8> buffer{};
  EXPECT_EQ(stream->Read(buffer.data(), 2), 2u);
  EXPECT_EQ(buffer[1], 2);
  EXPECT_EQ(stream->Read(buffer.data(), 8), 3u);
  EXPECT_EQ(buffer[0], 3);
  EXPECT_EQ(buffer[2], 5);
  EXPECT_EQ(stream->Read(buffer.data(), 8), 0u);
  EXPECT_EQ(stream->Read(buffer.data(), 8), 0u);
  EXPECT_FALSE(stream->ReadFailed()) << "the end of the data is no failure";
}

TEST_P(ByteStreamTest, SkipMovesForwardAndMayPassTheEnd) {
  auto stream = Open({1, 2, 3, 4, 5});
  std::array<std::uint8_t, 4> buffer{};
  stream->Skip(3);
  EXPECT_EQ(stream->Read(buffer.data(), 4), 2u);
  EXPECT_EQ(buffer[0], 4);
  stream->Skip(0xFFFFFFFFu);
  EXPECT_EQ(stream->Read(buffer.data(), 4), 0u);
  EXPECT_FALSE(stream->ReadFailed());
}

INSTANTIATE_TEST_SUITE_P(MemoryAndFile, ByteStreamTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) { return param.param ? "File" : "Memory"; });

TEST(FileStream, MissingFileDoesNotOpenAndFailsToRead) {
  FileStream stream(std::filesystem::temp_directory_path() / "kvd_no_such_file.kvd");
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_TRUE(stream.ReadFailed());
}

// The process's own memory file answers EIO for the unmapped page at offset
// 0: a real I/O error without a failing disk.
TEST(FileStream, AnIoErrorIsAFailedReadNotTheEnd) {
  FileStream stream("/proc/self/mem");
  ASSERT_TRUE(stream.IsOpen());
  std::array<std::uint8_t, 8> buffer{};
  EXPECT_EQ(stream.Read(buffer.data(), 8), 0u);
  EXPECT_TRUE(stream.ReadFailed());
  EXPECT_EQ(stream.ReadError(), EIO);
}

}  // namespace
}  // namespace kvd
