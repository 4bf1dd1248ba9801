#include "expectations.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "check.h"

namespace kvd::wine {

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  KVD_CHECK(file.is_open());
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<Expectation> ReadExpectations(const std::filesystem::path& dir) {
  std::vector<Expectation> expectations;
  std::ifstream index(dir / "index.txt");
  KVD_CHECK(index.is_open());
  std::string document;
  std::uint32_t cx = 0;
  std::string bitsFile;
  while (index >> document >> cx >> bitsFile) {
    expectations.push_back({dir / document, cx, ReadFileBytes(dir / bitsFile)});
  }
  KVD_CHECK(index.eof());
  KVD_CHECK(!expectations.empty());
  return expectations;
}

bool CheckSameBits(std::span<const std::uint8_t> actual, const Expectation& expected, const std::string& how) {
  const std::string what = expected.document.filename().string() + " at cx " + std::to_string(expected.cx) + " (" + how + ")";
  if (actual.size() != expected.bits.size()) {
    ReportFailure(__FILE__, __LINE__, what + ": " + std::to_string(actual.size()) + " bytes, expected " +
                                          std::to_string(expected.bits.size()));
    return false;
  }
  const auto differs = std::mismatch(actual.begin(), actual.end(), expected.bits.begin()).first;
  if (differs == actual.end()) return true;
  const auto offset = static_cast<std::size_t>(differs - actual.begin());
  const std::size_t pixel = offset / 4;
  ReportFailure(__FILE__, __LINE__,
                what + ": first difference at byte " + std::to_string(offset) + ", bitmap row " +
                    std::to_string(pixel / expected.cx) + " (bottom-up) column " + std::to_string(pixel % expected.cx));
  return false;
}

}  // namespace kvd::wine
