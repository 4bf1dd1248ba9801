#include "raster/row_functions.h"

#include <atomic>
#include <cstdlib>
#include <string_view>

#include "raster/blend_avx2.h"
#include "raster/blend_avx512.h"
#include "raster/blend_sse2.h"
#include "raster/resample_avx2.h"
#include "raster/resample_fast.h"

namespace ruta {
namespace {

constexpr const char* kDisableVariable = "KVD_DISABLE_CPU_FEATURES";

RowFunctions MakeReference() {
  RowFunctions functions;
  for (std::int32_t mode = 0; mode < kBlendModeSlots; ++mode) functions.blend[static_cast<std::size_t>(mode)] = ReferenceRowLoop(mode);
  functions.box = ReferenceBoxRow;
  functions.nearest = ReferenceNearestRow;
  return functions;
}

RowFunctions MakeSse2() {
  RowFunctions functions = MakeReference();
  functions.box = Sse2BoxRow;
  functions.nearest = UncheckedNearestRow;
  FillSse2BlendRows(functions);
  return functions;
}

RowFunctions MakeAvx2() {
  RowFunctions functions = MakeSse2();
#if defined(__x86_64__)
  functions.box = Avx2BoxRow;
#endif
  FillAvx2BlendRows(functions);
  return functions;
}

RowFunctions MakeAvx512() {
  RowFunctions functions = MakeAvx2();
  FillAvx512BlendRows(functions);
  return functions;
}

bool ProcessorHas(RowImplementation implementation) {
  switch (implementation) {
    case RowImplementation::Reference: return true;
#if defined(__x86_64__)
    case RowImplementation::Sse2: return true;  // every x86-64 processor has it
    case RowImplementation::Avx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
    case RowImplementation::Avx512:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#else
    default: return false;
#endif
  }
  return false;
}

bool DisabledByEnvironment(RowImplementation implementation) {
  const char* list = std::getenv(kDisableVariable);
  if (list == nullptr) return false;
  const std::string_view name = FeatureName(implementation);
  std::string_view rest = list;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    if (rest.substr(0, comma) == name) return true;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return false;
}

RowImplementation ChooseImplementation() {
  RowImplementation chosen = RowImplementation::Reference;
  for (RowImplementation next : {RowImplementation::Sse2, RowImplementation::Avx2, RowImplementation::Avx512}) {
    if (!ProcessorHas(next) || DisabledByEnvironment(next)) break;
    chosen = next;
  }
  return chosen;
}

}  // namespace

const char* FeatureName(RowImplementation implementation) {
  switch (implementation) {
    case RowImplementation::Reference: return "reference";
    case RowImplementation::Sse2: return "sse2";
    case RowImplementation::Avx2: return "avx2";
    case RowImplementation::Avx512: return "avx512";
  }
  return "";
}

const RowFunctions& RowFunctionsFor(RowImplementation implementation) {
  static const RowFunctions reference = MakeReference();
  static const RowFunctions sse2 = MakeSse2();
  static const RowFunctions avx2 = MakeAvx2();
  static const RowFunctions avx512 = MakeAvx512();
  switch (implementation) {
    case RowImplementation::Sse2: return sse2;
    case RowImplementation::Avx2: return avx2;
    case RowImplementation::Avx512: return avx512;
    case RowImplementation::Reference: break;
  }
  return reference;
}

std::vector<RowImplementation> SupportedImplementations() {
  std::vector<RowImplementation> supported;
  for (RowImplementation implementation :
       {RowImplementation::Reference, RowImplementation::Sse2, RowImplementation::Avx2, RowImplementation::Avx512}) {
    if (ProcessorHas(implementation)) supported.push_back(implementation);
  }
  return supported;
}

RowImplementation ActiveImplementation() {
  // Chosen on first use, never while a module loads; two threads racing here
  // store the same answer.
  static std::atomic<int> chosen{-1};
  int value = chosen.load(std::memory_order_relaxed);
  if (value < 0) {
    value = static_cast<int>(ChooseImplementation());
    chosen.store(value, std::memory_order_relaxed);
  }
  return static_cast<RowImplementation>(value);
}

const RowFunctions& ActiveRowFunctions() { return RowFunctionsFor(ActiveImplementation()); }

}  // namespace ruta
