// InflateBuffer against zlib's inflate of the whole zlib stream, as one call
// over the complete buffers: the two accept and refuse the same streams, at
// the same capacities, and give the same bytes. InflateBuffer checks the
// header and the Adler-32 trailer itself, so this holds its checks to
// zlib's.
//
// The first byte's bit 0 chooses whether the rest is the stream as is (0)
// or a recipe (1, zlib_recipe.h); bit 1 has the recipe declare a preset
// dictionary. Its bits 2 and 3 choose the capacity beside the size n that
// zlib inflates the stream to with room to spare: n, n - 1, n + 1, or the one
// the input gives. Then come a word for the bytes kept, a word for a given
// capacity, and for a recipe a cut and a few bytes to put after the stream.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "container_reader/inflate.h"
#include "fuzz_input.h"
#include "zlib_recipe.h"

namespace {

// Enough for most streams a fuzz input holds to inflate in full; one that
// does not fit is left out of the comparison.
constexpr std::uint32_t kOutputLimit = 256 * 1024;

constexpr std::array<std::uint8_t, 5> kDictionary = {'P', 'A', 'C', ' ', 0};

struct Inflated {
  bool ok = false;
  bool full = false;  // stopped with no output room left
  std::uint32_t size = 0;
};

// zlib's own: one inflate call over the whole stream into capacity bytes.
Inflated ZlibInflate(const std::vector<std::uint8_t>& source, std::uint32_t capacity, std::uint8_t* out) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return {};
  stream.next_in = const_cast<Bytef*>(source.data());
  stream.avail_in = static_cast<uInt>(source.size());
  stream.next_out = out;
  stream.avail_out = capacity;
  const int result = inflate(&stream, Z_FINISH);
  const Inflated inflated{result == Z_STREAM_END, stream.avail_out == 0, static_cast<std::uint32_t>(stream.total_out)};
  inflateEnd(&stream);
  return inflated;
}

constexpr std::uint32_t kTopBit = 0x80000000u;

std::uint32_t ChooseCapacity(std::uint8_t form, std::uint32_t size, std::uint32_t given) {
  switch ((form >> 2) & 3) {
    case 0: return size;
    case 1: return size == 0 ? 0 : size - 1;
    case 2: return size + 1;
    default:
      // With the top bit, far beyond what is there, as a lying chunk header gives.
      return (given & kTopBit) != 0 ? 0xFFFFFFFFu : given % (kOutputLimit + 1);
  }
}

std::vector<std::uint8_t> Stream(std::uint8_t form, kvd::fuzz::FuzzInput& input) {
  if ((form & 1) == 0) {
    const auto rest = input.Rest();
    return {rest.begin(), rest.end()};
  }
  const auto cut = input.Take<std::uint16_t>();
  const auto trailing = input.Take<std::uint8_t>();
  std::span<const std::uint8_t> dictionary;
  if ((form & 2) != 0) dictionary = kDictionary;
  std::vector<std::uint8_t> stream = kvd::fuzz::CompressedByRecipe(input, kvd::fuzz::Wrapper::Zlib, dictionary);
  if (cut != 0) stream.resize(std::min<std::size_t>(stream.size(), cut - 1u));
  stream.insert(stream.end(), trailing & 7, trailing);
  return stream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Kept from input to input: clearing a fresh buffer costs more than most inflations.
  static std::vector<std::uint8_t> zlibOut(kOutputLimit);
  kvd::fuzz::FuzzInput input(data, size);
  const auto form = input.Take<std::uint8_t>();
  const auto keptWord = input.Take<std::uint32_t>();
  const auto capacityWord = input.Take<std::uint32_t>();
  const std::vector<std::uint8_t> stream = Stream(form, input);

  const Inflated roomy = ZlibInflate(stream, kOutputLimit, zlibOut.data());
  if (!roomy.ok && roomy.full) return 0;
  const std::uint32_t capacity = ChooseCapacity(form, roomy.size, capacityWord);
  const Inflated zlib = capacity <= kOutputLimit ? ZlibInflate(stream, capacity, zlibOut.data()) : roomy;
  // Up to one past the data, or with the top bit far beyond them.
  const std::uint32_t kept = keptWord % (roomy.size + 2) + ((keptWord & kTopBit) != 0 ? 0xFFFFFFu : 0u);

  kvd::ByteBuffer ours;
  const std::optional<std::uint32_t> produced = kvd::InflateBuffer(stream, ours, capacity, kept);
  KVD_FUZZ_CHECK(produced.has_value() == zlib.ok);
  if (!zlib.ok) {
    KVD_FUZZ_CHECK(ours.empty());
    return 0;
  }
  KVD_FUZZ_CHECK(*produced == zlib.size);
  KVD_FUZZ_CHECK(ours.size() == std::min(kept, zlib.size));
  KVD_FUZZ_CHECK(ours.empty() || std::memcmp(ours.data(), zlibOut.data(), ours.size()) == 0);
  return 0;
}
