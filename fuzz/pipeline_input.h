#pragma once

// How the pipeline fuzz target reads its input: the first three bytes choose
// the edge length, the rest is the document. The Wine replay of the pipeline
// regressions splits the same files the same way.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kvd::fuzz {

// The largest edge the shell asks for in practice (a 2560-pixel "extra large"
// view). One input in 256 asks for an edge up to it, the others for one up to
// kFuzzCommonEdge: a large canvas costs far more than the document (when one
// input in sixteen asked for one, clearing, resampling onto and scanning large
// canvases took three quarters of the run), and the fuzzer should spend its
// time on documents.
inline constexpr std::uint32_t kFuzzMaxEdge = 2560;
inline constexpr std::uint32_t kFuzzCommonEdge = 256;

inline constexpr std::size_t kEdgeBytes = 3;
inline constexpr std::uint8_t kLargeEdgeMarker = 0xFF;

struct PipelineInput {
  std::uint32_t cx = 1;
  std::span<const std::uint8_t> document;
};

// With the marker in the third byte, the first two name an edge up to
// kFuzzMaxEdge; otherwise the first alone names one up to kFuzzCommonEdge.
inline PipelineInput SplitPipelineInput(std::span<const std::uint8_t> input) {
  if (input.size() < kEdgeBytes) return {1, {}};
  const std::uint32_t wide = input[0] | (static_cast<std::uint32_t>(input[1]) << 8);
  const std::uint32_t cx = input[2] == kLargeEdgeMarker ? 1 + wide % kFuzzMaxEdge : 1 + input[0] % kFuzzCommonEdge;
  return {cx, input.subspan(kEdgeBytes)};
}

// The leading bytes that SplitPipelineInput reads as edge cx, 1 to kFuzzMaxEdge.
constexpr std::array<std::uint8_t, kEdgeBytes> EdgeBytes(std::uint32_t cx) {
  if (cx <= kFuzzCommonEdge) return {static_cast<std::uint8_t>(cx - 1), 0, 0};
  return {static_cast<std::uint8_t>((cx - 1) & 0xFF), static_cast<std::uint8_t>((cx - 1) >> 8), kLargeEdgeMarker};
}

}  // namespace kvd::fuzz
