// Every implementation of the compositor's row loops against the plain one,
// on random rows: for each mode code, opacity, colour key and pair of runs,
// every loop this processor runs must write exactly the reference's words.
// Runs start at any offset, so that the vector loops meet unaligned rows and
// every length of tail, and may overlap.

#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "raster/row_functions.h"

namespace {

constexpr std::int32_t kMaxRowPixels = 300;
constexpr std::int32_t kMaxOffset = 7;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvd::fuzz::FuzzInput input(data, size);
  ruta::BlendContext context;
  context.mode = input.TakeInRange(0, ruta::kBlendModeSlots - 1);
  const ruta::RowLoop reference =
      ruta::RowFunctionsFor(ruta::RowImplementation::Reference).blend[static_cast<std::size_t>(context.mode)];
  if (reference == nullptr) return 0;
  context.opacity = input.Take<std::uint8_t>();
  const bool keyFromRow = (input.Take<std::uint8_t>() & 1) != 0;
  const std::uint32_t key = input.Take<std::uint32_t>();
  const std::int32_t offset = input.TakeInRange(0, kMaxOffset);
  // BlendRow hands its loops runs of at least one pixel.
  const std::int32_t count = input.TakeInRange(1, kMaxRowPixels);
  const auto start = static_cast<std::size_t>(offset);
  const std::vector<std::uint32_t> source = input.TakeWords(start + static_cast<std::size_t>(count));
  const std::vector<std::uint32_t> destination = input.TakeWords(start + static_cast<std::size_t>(count));
  // A key taken from the row itself makes keyed pixels common.
  context.colorKey = keyFromRow ? source[start + key % static_cast<std::uint32_t>(count)] : key;

  // Every code but Copy also takes overlapping runs. Then both lie in one
  // row, the source words followed by the destination words, the destination
  // run `shift` pixels from the source run, up to a whole run ahead.
  const bool overlapping =
      (input.Take<std::uint8_t>() & 1) != 0 && context.mode != static_cast<std::int32_t>(ruta::BlendMode::Copy);
  const std::int32_t shift = input.TakeInRange(-offset, count);
  std::vector<std::uint32_t> row = source;
  row.insert(row.end(), destination.begin(), destination.end());

  auto written = [&](ruta::RowLoop loop) {
    if (overlapping) {
      std::vector<std::uint32_t> words = row;
      loop(context, words.data() + start, words.data() + start + shift, count);
      return words;
    }
    std::vector<std::uint32_t> words = destination;
    loop(context, source.data() + start, words.data() + start, count);
    return words;
  };
  const std::vector<std::uint32_t> expected = written(reference);
  for (ruta::RowImplementation implementation : ruta::SupportedImplementations()) {
    KVD_FUZZ_CHECK(written(ruta::RowFunctionsFor(implementation).blend[static_cast<std::size_t>(context.mode)]) ==
                   expected);
  }
  return 0;
}
