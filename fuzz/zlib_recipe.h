#pragma once

// Valid deflate streams with a few bytes damaged, described by a fuzz input:
// zlib compresses the recipe's data with the level and strategy it names,
// then changes the bytes at the places it names, so that a run explores the
// damaged headers, codes, distances and trailers of streams that were valid
// until then. The inflate targets share it; zlib and the code under test are
// not instrumented alike, so most inputs describe a stream rather than hold one.

#include <zlib.h>

#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include "fuzz_input.h"

namespace kvd::fuzz {

enum class Wrapper { Zlib, None };

inline constexpr int kRecipeStrategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
inline constexpr int kMaxDamagedBytes = 4;

// Empty when zlib cannot compress the recipe. A dictionary, when given, is
// set before compressing (a zlib stream then declares it in its header).
inline std::vector<std::uint8_t> CompressedByRecipe(FuzzInput& input, Wrapper wrapper,
                                                    std::span<const std::uint8_t> dictionary = {}) {
  const auto settings = input.Take<std::uint8_t>();
  const int level = settings % 10;
  const int strategy = kRecipeStrategies[(settings / 10) % std::size(kRecipeStrategies)];
  const int damaged = input.TakeInRange(0, kMaxDamagedBytes);
  struct Damage {
    std::uint16_t at;
    std::uint8_t bits;
  } damage[kMaxDamagedBytes];
  for (int i = 0; i < damaged; ++i) damage[i] = {input.Take<std::uint16_t>(), input.Take<std::uint8_t>()};
  const auto data = input.Rest();

  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, wrapper == Wrapper::Zlib ? MAX_WBITS : -MAX_WBITS, 8, strategy) != Z_OK) {
    return {};
  }
  if (!dictionary.empty() &&
      deflateSetDictionary(&stream, dictionary.data(), static_cast<uInt>(dictionary.size())) != Z_OK) {
    deflateEnd(&stream);
    return {};
  }
  std::vector<std::uint8_t> compressed(deflateBound(&stream, static_cast<uLong>(data.size())));
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = compressed.data();
  stream.avail_out = static_cast<uInt>(compressed.size());
  const int result = deflate(&stream, Z_FINISH);
  compressed.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) return {};
  for (int i = 0; i < damaged && !compressed.empty(); ++i) compressed[damage[i].at % compressed.size()] ^= damage[i].bits;
  return compressed;
}

}  // namespace kvd::fuzz
