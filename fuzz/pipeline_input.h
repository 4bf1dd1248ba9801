#pragma once

// How the pipeline fuzz target reads its input: the first two bytes choose
// the edge length, the rest is the document. The Wine replay of the pipeline
// regressions splits the same files the same way.

#include <cstddef>
#include <cstdint>
#include <span>

namespace kvd::fuzz {

// The largest edge the shell asks for in practice (a 2560-pixel "extra large"
// view). One input in 256 asks for an edge up to it, the others for one up to
// kFuzzCommonEdge: a large canvas costs far more than the document (at one
// in sixteen, clearing, resampling onto and scanning large canvases took
// three quarters of the run), and the fuzzer should spend its time on
// documents.
inline constexpr std::uint32_t kFuzzMaxEdge = 2560;
inline constexpr std::uint32_t kFuzzCommonEdge = 256;

struct PipelineInput {
  std::uint32_t cx = 1;
  std::span<const std::uint8_t> document;
};

inline PipelineInput SplitPipelineInput(std::span<const std::uint8_t> input) {
  constexpr std::size_t kEdgeBytes = 2;
  constexpr std::uint32_t kLargeEdgeSelectors = 0xFF00;
  if (input.size() < kEdgeBytes) return {1, {}};
  const std::uint32_t selector = input[0] | (static_cast<std::uint32_t>(input[1]) << 8);
  const std::uint32_t range = selector >= kLargeEdgeSelectors ? kFuzzMaxEdge : kFuzzCommonEdge;
  return {1 + selector % range, input.subspan(kEdgeBytes)};
}

}  // namespace kvd::fuzz
