// ISA-L's inflate against zlib's, the inflater every build uses: a stream
// either inflates in both to the same bytes or is refused by both. The
// libraries are not instrumented, so the fuzzer sees no coverage inside them.
// The first byte's bit 0 chooses a whole zlib stream, header and Adler-32
// trailer included (0), or a bare deflate body (1), so that the block-level
// cases are reached without a checksum in the way. Its bit 1 chooses whether
// the rest is that stream as is (0) or a recipe (1, zlib_recipe.h).

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "zlib_recipe.h"

namespace {

using kvd::fuzz::Wrapper;

// Enough for most streams a fuzz input holds to inflate in full; one that
// does not fit in zlib is left out of the comparison.
constexpr std::size_t kOutputLimit = 256 * 1024;

// What one inflater made of a stream; out holds size bytes when inflated.
// tooLarge when zlib ran out of room first.
struct Outcome {
  bool inflated = false;
  bool tooLarge = false;
  std::size_t size = 0;
};

Outcome ZlibInflate(const std::uint8_t* data, std::size_t size, Wrapper wrapper, std::uint8_t* out) {
  z_stream stream{};
  if (inflateInit2(&stream, wrapper == Wrapper::Zlib ? MAX_WBITS : -MAX_WBITS) != Z_OK) return {};
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = out;
  stream.avail_out = static_cast<uInt>(kOutputLimit);
  const int result = inflate(&stream, Z_FINISH);
  const Outcome outcome{result == Z_STREAM_END, result == Z_BUF_ERROR && stream.avail_out == 0, stream.total_out};
  inflateEnd(&stream);
  return outcome;
}

Outcome IsalInflate(const std::uint8_t* data, std::size_t size, Wrapper wrapper, std::uint8_t* out) {
  inflate_state state;
  isal_inflate_init(&state);
  state.crc_flag = wrapper == Wrapper::Zlib ? ISAL_ZLIB : ISAL_DEFLATE;
  state.next_in = const_cast<std::uint8_t*>(data);
  state.avail_in = static_cast<std::uint32_t>(size);
  state.next_out = out;
  state.avail_out = static_cast<std::uint32_t>(kOutputLimit);
  const int result = isal_inflate(&state);
  return {result == ISAL_DECOMP_OK && state.block_state == ISAL_BLOCK_FINISH, false, state.total_out};
}

// A zlib header whose window field (CINFO, the high nibble of its first byte)
// passes 7, the 32 KiB that RFC 1950 allows: zlib refuses it, ISA-L inflates
// the stream. Those are left out so that the run looks for other differences.
bool DeclaresTooLargeWindow(const std::uint8_t* stream, std::size_t size) { return size > 0 && stream[0] >> 4 > 7; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Kept from input to input: clearing fresh buffers costs more than most inflations.
  static std::vector<std::uint8_t> zlibOut(kOutputLimit);
  static std::vector<std::uint8_t> isalOut(kOutputLimit);
  kvd::fuzz::FuzzInput input(data, size);
  const auto form = input.Take<std::uint8_t>();
  const Wrapper wrapper = (form & 1) == 0 ? Wrapper::Zlib : Wrapper::None;
  const auto rest = input.Rest();
  const std::vector<std::uint8_t> stream =
      (form & 2) == 0 ? std::vector<std::uint8_t>(rest.begin(), rest.end()) : kvd::fuzz::CompressedByRecipe(input, wrapper);
  if (wrapper == Wrapper::Zlib && DeclaresTooLargeWindow(stream.data(), stream.size())) return 0;
  const Outcome zlib = ZlibInflate(stream.data(), stream.size(), wrapper, zlibOut.data());
  if (zlib.tooLarge) return 0;
  const Outcome isal = IsalInflate(stream.data(), stream.size(), wrapper, isalOut.data());
  KVD_FUZZ_CHECK(zlib.inflated == isal.inflated);
  if (zlib.inflated) {
    KVD_FUZZ_CHECK(zlib.size == isal.size && std::memcmp(zlibOut.data(), isalOut.data(), zlib.size) == 0);
  }
  return 0;
}
