// Providers made and used on eight threads at once, as a shell with a pool of
// thumbnail workers does: every bitmap equals the one rendered on a single
// thread, and the module's usage count comes back to 0. The tsan preset runs
// this under ThreadSanitizer.

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "container_reader/memory_stream.h"
#include "shell_module/module_exports.h"
#include "shell_module/module_state.h"
#include "support/container_builder.h"
#include "support/fake_istream.h"
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

// One request as the shell makes it, through the module's exports. False when
// any step fails or the bits differ from expected.
bool RenderThroughModule(const Bytes& document, const std::vector<std::uint8_t>& expected) {
  void* factory = nullptr;
  if (DllGetClassObject(CLSID_KvdThumbnailProvider, IID_IClassFactory, &factory) != S_OK) return false;
  void* object = nullptr;
  const HRESULT created = static_cast<IClassFactory*>(factory)->CreateInstance(nullptr, IID_IThumbnailProvider, &object);
  static_cast<IClassFactory*>(factory)->Release();
  if (created != S_OK) return false;
  auto* provider = static_cast<IThumbnailProvider*>(object);
  testing::FakeStream stream(document);
  IInitializeWithStream* initialize = nullptr;
  bool same = provider->QueryInterface(IID_IInitializeWithStream, reinterpret_cast<void**>(&initialize)) == S_OK &&
              initialize->Initialize(&stream, 0) == S_OK;
  if (initialize != nullptr) initialize->Release();
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  same = same && provider->GetThumbnail(kEdge, &bitmap, &alpha) == S_OK && bitmap != nullptr;
  const std::unique_ptr<DibSection> section(bitmap);
  same = same && section->bits == expected;
  return provider->Release() == 0 && same;
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
