// A stream that fails at every step of one render: the Nth Read fails or comes
// back short, or the Nth Skip fails, for every N the render reaches. A failed
// read gives no bitmap at all (the shell gets the stream's own result); every
// other render ends in a defined bitmap: the one of the document cut where
// the stream gave out, or, for a shell stream that merely delivered in
// pieces, the one of the whole document.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "container_reader/memory_stream.h"
#include "platform/platform.h"
#include "support/container_builder.h"
#include "shell_module/istream_byte_stream.h"
#include "thumbnail_provider/kvd_thumbnail_provider.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace kvd {
namespace {

using testing::Bytes;

enum class Step { Read, Skip };

// What an offline file's stream answers.
constexpr HRESULT kPending = static_cast<HRESULT>(0x8000000Au);

enum class Fault {
  ReadFails,   // the Nth Read fails
  ReadShort,   // the Nth Read delivers half of what was asked
  SkipFails,   // the Nth Skip (Seek) fails and does not move
};

// Where one fault strikes: the Nth call of its step, counted from 1.
struct FaultPlan {
  Fault fault;
  int call;

  Step step() const { return fault == Fault::SkipFails ? Step::Skip : Step::Read; }
};

// Serves bytes from memory until the planned fault, and notes where it struck.
class FaultSchedule {
 public:
  FaultSchedule(const Bytes& bytes, FaultPlan plan) : bytes_(bytes), plan_(plan) {}

  // True when this call is the one that fails.
  bool Strikes(Step step) {
    if (step != plan_.step()) return false;
    const bool strikes = ++calls_ == plan_.call;
    if (strikes) struckAt = static_cast<std::int64_t>(position);
    return strikes;
  }

  std::uint32_t Deliver(void* buffer, std::uint32_t count) {
    const std::uint64_t left = position < bytes_.size() ? bytes_.size() - position : 0;
    const auto delivered = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, left));
    if (delivered > 0) std::memcpy(buffer, bytes_.data() + position, delivered);
    position += delivered;
    return delivered;
  }

  FaultPlan plan() const { return plan_; }

  std::uint64_t position = 0;
  std::int64_t struckAt = -1;  // the position when the fault struck, -1 while it has not

 private:
  const Bytes& bytes_;
  FaultPlan plan_;
  int calls_ = 0;
};

// The reader's own stream interface: after the fault nothing more is
// delivered, and a failed read says so.
class FaultyByteStream final : public ByteStream {
 public:
  explicit FaultyByteStream(FaultSchedule& schedule) : schedule_(schedule) {}

  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    if (ended_) return 0;
    if (schedule_.Strikes(Step::Read)) {
      ended_ = true;
      failed_ = schedule_.plan().fault == Fault::ReadFails;
      return failed_ ? 0 : schedule_.Deliver(buffer, count / 2);
    }
    return schedule_.Deliver(buffer, count);
  }
  void Skip(std::uint32_t count) override {
    if (ended_) return;
    if (schedule_.Strikes(Step::Skip)) {
      ended_ = true;
      return;
    }
    schedule_.position += count;
  }
  bool ReadFailed() const override { return failed_; }

 private:
  FaultSchedule& schedule_;
  bool ended_ = false;
  bool failed_ = false;
};

KVD_COM_CLASSES_BEGIN

// A shell stream. A failed call answers an error and moves nothing; a short
// Read is a legal answer after which the stream goes on delivering.
class FaultyIStream final : public IStream {
 public:
  explicit FaultyIStream(FaultSchedule& schedule) : schedule_(schedule) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IStream ? static_cast<IStream*>(this) : nullptr;
    return *ppv != nullptr ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* delivered) override {
    *delivered = 0;
    if (schedule_.Strikes(Step::Read)) {
      if (schedule_.plan().fault == Fault::ReadFails) return kPending;
      *delivered = schedule_.Deliver(buffer, count / 2);
      return S_OK;
    }
    *delivered = schedule_.Deliver(buffer, count);
    return *delivered < count ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD, ULARGE_INTEGER* newPosition) override {
    if (schedule_.Strikes(Step::Skip)) return E_FAIL;
    schedule_.position += static_cast<std::uint64_t>(move.QuadPart);
    if (newPosition != nullptr) newPosition->QuadPart = schedule_.position;
    return S_OK;
  }

 private:
  FaultSchedule& schedule_;
};

KVD_COM_CLASSES_END

constexpr std::uint32_t kEdge = 24;

ThumbnailBitmap RenderBytes(const Bytes& bytes) {
  MemoryStream stream(bytes);
  return RenderThumbnailBitmap(&stream, kEdge);
}

// The document as far as a stream that ends at position delivers it.
ThumbnailBitmap RenderCut(const Bytes& document, std::uint64_t position) {
  const auto end = static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(position, document.size()));
  return RenderBytes(Bytes(document.begin(), document.begin() + end));
}

// What a render came to: through the pipeline its outcome, through the
// shell's provider its result.
struct Answer {
  HRESULT result = S_OK;
  LoadOutcome outcome = LoadOutcome::NoThumbnail;
  std::vector<std::uint8_t> bits;
};

Answer PipelineAnswer(ByteStream& stream) {
  ThumbnailBitmap bitmap = RenderThumbnailBitmap(&stream, kEdge);
  return {S_OK, bitmap.result.outcome, std::move(bitmap.bits)};
}

Answer ShellAnswer(IStream& stream) {
  std::atomic<std::int32_t> liveObjects{0};
  auto* provider = new KvdThumbnailProvider(liveObjects);
  Answer answer;
  answer.result = provider->Initialize(&stream, 0);
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  if (answer.result == S_OK) answer.result = provider->GetThumbnail(kEdge, &bitmap, &alpha);
  const std::unique_ptr<DibSection> section(bitmap);
  if (section != nullptr) answer.bits = section->bits;
  provider->Release();
  EXPECT_EQ(liveObjects, 0);
  return answer;
}

void ExpectSameBitmap(const Answer& actual, const ThumbnailBitmap& expected, bool shellStream,
                      const std::string& where) {
  EXPECT_EQ(actual.result, S_OK) << where;
  if (!shellStream) {
    EXPECT_EQ(actual.outcome, expected.result.outcome) << where;
  }
  EXPECT_TRUE(actual.bits == expected.bits) << where;
}

void ExpectNoBitmap(const Answer& actual, bool shellStream, const std::string& where) {
  if (shellStream) {
    EXPECT_EQ(actual.result, kPending) << where;
  } else {
    EXPECT_EQ(actual.outcome, LoadOutcome::ReadFailed) << where;
  }
  EXPECT_TRUE(actual.bits.empty()) << where;
}

// A chunk record of its own, as another chunk's payload may hold one: a
// reader that failed to skip that payload would find this preview instead.
Bytes DecoyRecord() {
  constexpr std::size_t kHeaderAndEmptyManifest = 20;
  const Bytes container = testing::ContainerBuilder()
                              .Chunk(testing::StoredChunk("thumb", testing::PixelBytes(std::vector<std::uint32_t>(96, 0xFF00FF00))))
                              .Build();
  return Bytes(container.begin() + kHeaderAndEmptyManifest, container.end());
}

// Two previews behind chunks the reader skips, one stored and one compressed.
std::vector<Bytes> Documents() {
  const Bytes pixels = testing::PixelBytes(testing::GradientPixels(12, 8));
  std::vector<Bytes> documents;
  for (const bool compressed : {false, true}) {
    documents.push_back(testing::ContainerBuilder()
                            .Manifest(testing::ThumbManifest(12, 8, "thumb"))
                            .Chunk(testing::StoredChunk("layer0", DecoyRecord()))
                            .Chunk(testing::ZlibChunk("layer1", Bytes(900, 9)))
                            .Chunk(compressed ? testing::ZlibChunk("thumb", pixels)
                                              : testing::StoredChunk("thumb", pixels))
                            .Build());
  }
  return documents;
}

std::string Describe(Fault fault, int call, bool shellStream) {
  static const char* const kNames[] = {"read fails", "read short", "skip fails"};
  return std::string(shellStream ? "IStream, " : "ByteStream, ") + kNames[static_cast<int>(fault)] + " at call " +
         std::to_string(call);
}

// Renders with the fault at call 1, 2, ... until a render ends before the
// fault strikes; that render must be the undisturbed one.
template <typename Render>
void ForEveryCall(const Bytes& document, Fault fault, bool shellStream, Render render) {
  const ThumbnailBitmap whole = RenderBytes(document);
  ASSERT_EQ(whole.result.outcome, LoadOutcome::Thumbnail);
  for (int call = 1;; ++call) {
    FaultSchedule schedule(document, {fault, call});
    const Answer answer = render(schedule);
    const std::string where = Describe(fault, call, shellStream);
    if (schedule.struckAt < 0) {
      ExpectSameBitmap(answer, whole, shellStream, where + " (never reached)");
      ASSERT_GT(call, 1) << "the render made no call of this kind";
      return;
    }
    if (fault == Fault::ReadFails) {
      ExpectNoBitmap(answer, shellStream, where);
      continue;
    }
    // A shell stream may hand over a read in pieces; it has not ended.
    const bool ended = !(shellStream && fault == Fault::ReadShort);
    std::uint64_t cut = static_cast<std::uint64_t>(schedule.struckAt);
    if (!shellStream && fault == Fault::ReadShort) cut = schedule.position;  // the half that arrived
    ExpectSameBitmap(answer, ended ? RenderCut(document, cut) : whole, shellStream, where);
  }
}

TEST(StreamFaultTest, EveryReadAndSkipOfARenderMayFail) {
  for (const Bytes& document : Documents()) {
    for (const Fault fault : {Fault::ReadFails, Fault::ReadShort, Fault::SkipFails}) {
      ForEveryCall(document, fault, false, [](FaultSchedule& schedule) {
        FaultyByteStream stream(schedule);
        return PipelineAnswer(stream);
      });
      ForEveryCall(document, fault, true, [](FaultSchedule& schedule) {
        FaultyIStream shellStream(schedule);
        return ShellAnswer(shellStream);
      });
    }
  }
}

}  // namespace
}  // namespace kvd
