// Which attributes make the Windows doctor call a file online-only: Wine
// cannot give a file these attributes, so the decision is held here.

#include <gtest/gtest.h>

#include <cstdint>

#include "windows_doctor/cloud_files.h"

namespace kvd::windoctor {
namespace {

constexpr std::uint32_t kArchive = 0x20;
constexpr std::uint32_t kPinned = 0x80000;
constexpr std::uint32_t kUnpinned = 0x100000;

TEST(CloudFiles, OnlineOnlyByTheAttributesOfAPlaceholder) {
  struct Case {
    std::uint32_t attributes;
    bool onlineOnly;
  };
  const Case cases[] = {
      {kArchive, false},
      // Downloaded, and kept or free to be freed: its data is here.
      {kArchive | kPinned, false},
      {kArchive | kUnpinned, false},
      {kArchive | kUnpinned | kAttributeRecallOnDataAccess, true},
      {kAttributeRecallOnOpen, true},
      {kAttributeOffline, true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsOnlineOnly(c.attributes), c.onlineOnly) << std::hex << c.attributes;
}

}  // namespace
}  // namespace kvd::windoctor
