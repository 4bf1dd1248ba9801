#pragma once

// The expectations that the native pipeline wrote for the Wine tests (see
// write_expectations.cpp): documents and the bitmap bits rendered from them.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace kvd::wine {

struct Expectation {
  std::filesystem::path document;
  std::uint32_t cx = 0;
  std::vector<std::uint8_t> bits;  // cx * cx * 4 bytes, bottom-up
};

// Every line of DIR/index.txt, with its bits read; a line or file that cannot
// be read fails a check.
std::vector<Expectation> ReadExpectations(const std::filesystem::path& dir);

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);

// Checks that a rendered bitmap equals the expected one byte for byte and
// names the first pixel that differs.
bool CheckSameBits(std::span<const std::uint8_t> actual, const Expectation& expected, const std::string& how);

}  // namespace kvd::wine
