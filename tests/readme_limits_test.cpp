// README.md's table of the limits on hostile files states the value of every
// limit constant, so that what users read is what the code enforces.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "container_reader/chunk_reader.h"
#include "container_reader/container_header.h"
#include "container_reader/manifest.h"
#include "container_reader/thumbnail_loader.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace kvd {
namespace {

struct Limit {
  std::string constant;
  std::uint64_t value;
};

// The table row that names the constant, or "" when there is none.
std::string RowNaming(const std::string& readme, const std::string& constant) {
  std::istringstream lines(readme);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("|") && line.find("`" + constant + "`") != std::string::npos) return line;
  }
  return "";
}

// The numbers in a row's value cell (the third), thousands separators dropped.
std::vector<std::uint64_t> NumbersInValueCell(const std::string& row) {
  std::vector<std::string> cells;
  std::istringstream parts(row);
  for (std::string cell; std::getline(parts, cell, '|');) cells.push_back(cell);
  if (cells.size() < 4) return {};
  std::string value = cells[3];
  value.erase(std::remove(value.begin(), value.end(), ','), value.end());
  std::vector<std::uint64_t> numbers;
  for (std::size_t i = 0; i < value.size();) {
    if (!std::isdigit(static_cast<unsigned char>(value[i]))) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < value.size() && std::isdigit(static_cast<unsigned char>(value[end]))) ++end;
    numbers.push_back(std::stoull(value.substr(i, end - i)));
    i = end;
  }
  return numbers;
}

TEST(ReadmeLimitsTest, TheTableStatesEveryLimitConstant) {
  std::ifstream file(KVD_README_PATH);
  ASSERT_TRUE(file) << KVD_README_PATH;
  const std::string readme((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::vector<Limit> limits = {
      {"kMaxManifestBytes", kMaxManifestBytes}, {"kMaxManifestNesting", kMaxManifestNesting},
      {"kMaxChunkBytes", kMaxChunkBytes},       {"kMaxThumbSide", static_cast<std::uint64_t>(kMaxThumbSide)},
      {"kMaxThumbPixels", static_cast<std::uint64_t>(kMaxThumbPixels)},
      {"kMaxThumbnailEdge", kMaxThumbnailEdge},
  };
  for (const Limit& limit : limits) {
    const std::string row = RowNaming(readme, limit.constant);
    ASSERT_FALSE(row.empty()) << limit.constant << " has no row";
    const std::vector<std::uint64_t> numbers = NumbersInValueCell(row);
    EXPECT_NE(std::find(numbers.begin(), numbers.end(), limit.value), numbers.end())
        << limit.constant << " is " << limit.value << ", the table says: " << row;
  }
}

}  // namespace
}  // namespace kvd
