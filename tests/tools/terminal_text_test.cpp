#include "terminal_text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kvd {
namespace {

// The Unicode Character Database as Debian's unicode-data installs it.
constexpr const char* kUnicodeData = "/usr/share/unicode/";
constexpr char32_t kCodePoints = 0x110000;

std::string Utf8(char32_t point) {
  std::string bytes;
  if (point < 0x80) {
    bytes += static_cast<char>(point);
  } else if (point < 0x800) {
    bytes += static_cast<char>(0xC0 | (point >> 6));
    bytes += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    bytes += static_cast<char>(0xE0 | (point >> 12));
    bytes += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    bytes += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    bytes += static_cast<char>(0xF0 | (point >> 18));
    bytes += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    bytes += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    bytes += static_cast<char>(0x80 | (point & 0x3F));
  }
  return bytes;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

// Marks the code points of lines "XXXX[..YYYY] ; value # ..." whose field
// (counted from 0) is value. False when the file cannot be read.
bool MarkWhere(const std::string& file, std::size_t field, const std::string& value, std::vector<bool>& marked) {
  std::ifstream in(std::string(kUnicodeData) + file);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::istringstream parts(line.substr(0, line.find('#')));
    for (std::string part; std::getline(parts, part, ';');) fields.push_back(Trimmed(part));
    if (fields.size() <= field || fields[field] != value) continue;
    const std::size_t dots = fields[0].find("..");
    const auto first = static_cast<char32_t>(std::stoul(fields[0].substr(0, dots), nullptr, 16));
    const auto last = dots == std::string::npos ? first : static_cast<char32_t>(std::stoul(fields[0].substr(dots + 2), nullptr, 16));
    for (char32_t point = first; point <= last; ++point) marked[point] = true;
  }
  return true;
}

// Every character that draws nothing, only space or moves the cursor, by
// Unicode's own properties, is escaped; every other one is printed as it is.
TEST(TerminalText, EscapesExactlyTheCharactersUnicodeDrawsAsNothingOrSpace) {
  std::vector<bool> hidden(kCodePoints, false);
  ASSERT_TRUE(MarkWhere("UnicodeData.txt", 2, "Cc", hidden) && MarkWhere("UnicodeData.txt", 2, "Cf", hidden) &&
              MarkWhere("DerivedCoreProperties.txt", 1, "Default_Ignorable_Code_Point", hidden) &&
              MarkWhere("PropList.txt", 1, "White_Space", hidden))
      << "the Unicode Character Database is missing from " << kUnicodeData << " (scripts/install-deps installs it)";
  hidden[' '] = false;
  std::vector<std::string> wrong;
  for (char32_t point = 0; point < kCodePoints; ++point) {
    if (point >= 0xD800 && point <= 0xDFFF) continue;
    const std::string text = Utf8(point);
    if ((TerminalText(text) != text) != hidden[point]) {
      std::ostringstream name;
      name << "U+" << std::hex << std::uppercase << static_cast<unsigned long>(point);
      wrong.push_back(name.str());
    }
  }
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " code points escaped or printed wrongly, the first " << wrong.front();
}

}  // namespace
}  // namespace kvd
