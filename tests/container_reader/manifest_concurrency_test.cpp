// Manifests parsed on eight threads at once, as a shell's thumbnail workers
// parse them: each reads what one thread alone reads. The tsan preset runs
// this under ThreadSanitizer with the TinyXML build that the DLL ships.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "container_reader/container_writer.h"
#include "container_reader/manifest.h"

namespace kvd {
namespace {

constexpr int kThreads = 8;
constexpr int kParsesPerThread = 200;

auto Fields(const std::string& manifest) {
  const ManifestFields fields = ParseManifest(manifest.c_str()).value_or(ManifestFields{});
  return std::tuple(fields.hasRoot, fields.rootWidth, fields.rootHeight, fields.hasThumb, fields.thumbWidth,
                    fields.thumbHeight, fields.bin);
}

TEST(ConcurrencyTest, ManifestsParseOnEightThreadsAsOnOne) {
  const std::vector<std::string> manifests = {
      ThumbManifestXml(1600, 1000, 256, 160, "thumb"), RootOnlyManifestXml(3, 4), "<Dodiru width=\"1\"><Thumb",
      "not xml at all", ""};
  std::vector<decltype(Fields(""))> expected;
  for (const std::string& manifest : manifests) expected.push_back(Fields(manifest));

  std::vector<int> mismatches(kThreads, 0);
  {
    std::vector<std::jthread> workers;
    for (int t = 0; t < kThreads; ++t) {
      workers.emplace_back([&, t] {
        for (int i = 0; i < kParsesPerThread; ++i) {
          const std::size_t which = static_cast<std::size_t>(t + i) % manifests.size();
          if (Fields(manifests[which]) != expected[which]) ++mismatches[static_cast<std::size_t>(t)];
        }
      });
    }
  }
  EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

}  // namespace
}  // namespace kvd
