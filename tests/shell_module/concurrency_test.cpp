// Providers made and used on eight threads at once, as a shell with a pool of
// thumbnail workers does: every bitmap equals the one rendered on a single
// thread, and the module's usage count comes back to 0. The tsan preset runs
// this under ThreadSanitizer.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "container_reader/memory_stream.h"
#include "shell_module/module_exports.h"
#include "shell_module/module_state.h"
#include "support/container_builder.h"
#include "support/fake_istream.h"
#include "support/shell_request.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace kvd {
namespace {

using testing::Bytes;

constexpr int kThreads = 8;
constexpr int kRendersPerThread = 24;
constexpr UINT kEdge = 48;

// Documents that differ in shape, encoding and outcome.
std::vector<Bytes> Documents() {
  std::vector<Bytes> documents;
  for (int i = 0; i < kThreads; ++i) {
    const int width = 5 + 7 * i;
    const int height = 40 - 4 * i;
    documents.push_back(testing::ThumbnailDocument(width, height, testing::GradientPixels(width, height), i % 2 == 1));
  }
  documents.push_back(Bytes{'n', 'o', 't', ' ', 'k', 'v', 'd'});
  return documents;
}

std::vector<std::uint8_t> SingleThreadedBits(const Bytes& document) {
  MemoryStream stream(document);
  return RenderThumbnailBitmap(&stream, kEdge).bits;
}

bool RenderThroughModule(const Bytes& document, const std::vector<std::uint8_t>& expected) {
  testing::FakeStream stream(document);
  const testing::ShellAnswer answer = testing::RequestThumbnail(stream, kEdge);
  return answer.result == S_OK && answer.bits == expected;
}

TEST(ConcurrencyTest, ProvidersOnEightThreadsRenderAsOnOne) {
  const std::vector<Bytes> documents = Documents();
  std::vector<std::vector<std::uint8_t>> expected;
  for (const Bytes& document : documents) expected.push_back(SingleThreadedBits(document));

  std::vector<int> failures(kThreads, 0);
  {
    std::vector<std::jthread> workers;
    for (int t = 0; t < kThreads; ++t) {
      workers.emplace_back([&, t] {
        for (int i = 0; i < kRendersPerThread; ++i) {
          const std::size_t which = static_cast<std::size_t>(t + i) % documents.size();
          if (!RenderThroughModule(documents[which], expected[which])) ++failures[static_cast<std::size_t>(t)];
        }
      });
    }
  }
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
  EXPECT_EQ(g_moduleUsageCount, 0);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace kvd
