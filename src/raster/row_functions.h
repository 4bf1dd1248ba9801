#pragma once

// The table of row functions behind BlendRow and Resample. The plain code
// fills the reference table; a faster implementation replaces only the entries
// it speeds up, and every entry of every implementation gives exactly the
// words of the reference. The table in use is chosen once, on first use, from
// what the processor offers.

#include <array>
#include <cstdint>
#include <vector>

#include "raster/blend_row.h"
#include "raster/resample_rows.h"

namespace ruta {

// One past the highest mode code.
inline constexpr std::int32_t kBlendModeSlots = 39;

struct RowFunctions {
  std::array<RowLoop, kBlendModeSlots> blend{};  // by mode code; null for a code that does nothing
  BoxRow box = nullptr;
  NearestRow nearest = nullptr;
};

// From plainest to fastest; each needs the processor features of those before it.
enum class RowImplementation { Reference, Sse2, Avx2, Avx512 };

// Names a feature in KVD_DISABLE_CPU_FEATURES, a comma-separated list
// ("avx512", "avx2", "sse2") that keeps the table below the first feature listed, so
// that tests and benchmarks can force each implementation in turn.
const char* FeatureName(RowImplementation implementation);

const RowFunctions& RowFunctionsFor(RowImplementation implementation);

// The implementations this processor runs, Reference first, ignoring the
// environment: what the tests compare with the reference.
std::vector<RowImplementation> SupportedImplementations();

// The fastest supported implementation that the environment does not disable.
RowImplementation ActiveImplementation();

const RowFunctions& ActiveRowFunctions();

}  // namespace ruta
