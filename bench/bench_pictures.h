#pragma once

// Workloads of the benchmarks: fixed seeds, so that every run measures the
// same pixels.

#include <cstdint>
#include <string>
#include <vector>

namespace kvd::bench {

using Pixels = std::vector<std::uint32_t>;

// Straight ARGB pixels whose alpha comes in runs: a third 0, a third 255, a
// third between, with random colours.
Pixels AlphaRunPixels(std::size_t count, std::uint32_t seed);

// A painting-like picture: smooth gradients with a little noise, opaque but
// for a transparent corner; zlib compresses it about as well as a real preview.
Pixels PaintingPixels(int width, int height, std::uint32_t seed);

// Straight ARGB to premultiplied, the form pixman works in.
Pixels Premultiplied(const Pixels& pixels);

// The documents of the pipeline benchmarks, as container bytes.
std::vector<std::uint8_t> RealisticDocument();  // four 4 MiB layers (stored, zlib) before a 1024 x 768 zlib preview
std::vector<std::uint8_t> PreviewPayload();     // the compressed payload of that preview, alone
std::vector<std::uint8_t> HugeThumbDocument();  // declares an 8192 x 8192 Thumb, holds 1 MiB of payload

// Writes the realistic document with a stored layer of 1 GiB before the
// preview, as a sparse file.
bool WriteGibibyteDocument(const std::string& path);

inline constexpr int kPreviewWidth = 1024;
inline constexpr int kPreviewHeight = 768;

}  // namespace kvd::bench
