#include "shell_module/istream_byte_stream.h"

#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "support/fake_istream.h"

namespace kvd {
namespace {

using testing::FakeStream;

TEST(IStreamByteStream, ReadDeliversWhatTheStreamHolds) {
  FakeStream stream({1, 2, 3, 4, 5});
  IStreamByteStream bytes(stream);
  std::array<std::uint8_t, 4> buffer{};
  EXPECT_EQ(bytes.Read(buffer.data(), 4), 4u);
  EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(bytes.Read(buffer.data(), 4), 1u);
  EXPECT_EQ(buffer[0], 5);
  EXPECT_EQ(bytes.Read(buffer.data(), 4), 0u);
  EXPECT_EQ(stream.references, 1u);  // borrowed, not held
}

TEST(IStreamByteStream, ACountAboveTheRequestIsNotBelieved) {
  FakeStream stream({1, 2, 3, 4, 5});
  stream.overstatement = 100;
  IStreamByteStream bytes(stream);
  std::array<std::uint8_t, 2> buffer{};
  EXPECT_EQ(bytes.Read(buffer.data(), 2), 2u);
}

TEST(IStreamByteStream, SkipSeeksForwardFromTheCurrentPosition) {
  FakeStream stream;
  IStreamByteStream bytes(stream);
  for (const std::uint32_t count : {0u, 10u, 0x80000000u, 0xFFFFFFFFu}) bytes.Skip(count);
  const std::vector<std::pair<LONGLONG, DWORD>> expected{
      {0, STREAM_SEEK_CUR}, {10, STREAM_SEEK_CUR}, {0x80000000LL, STREAM_SEEK_CUR}, {0xFFFFFFFFLL, STREAM_SEEK_CUR}};
  EXPECT_EQ(stream.seeks, expected);
}

}  // namespace
}  // namespace kvd
