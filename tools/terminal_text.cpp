#include "terminal_text.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "container_reader/utf8.h"

namespace kvd {
namespace {

struct CodePointRange {
  char32_t first;
  char32_t last;
};

// Characters drawn as nothing or as space only, so that a name holding one
// looks like a name that does not, or that turn the text around them
// (bidirectional overrides): of Unicode 15.0, General_Category Cf (format),
// Default_Ignorable_Code_Point (which also covers code points of such
// blocks not assigned yet) and White_Space other than U+0020 (the controls
// among them are escaped as controls). Merged and sorted, for the binary
// search; the tools test compares it with the Unicode Character Database.
constexpr CodePointRange kInvisibleCharacters[] = {
    {0x00A0, 0x00A0},   {0x00AD, 0x00AD},   {0x034F, 0x034F},   {0x0600, 0x0605},   {0x061C, 0x061C},
    {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x115F, 0x1160},
    {0x1680, 0x1680},   {0x17B4, 0x17B5},   {0x180B, 0x180F},   {0x2000, 0x200F},   {0x2028, 0x202F},
    {0x205F, 0x206F},   {0x3000, 0x3000},   {0x3164, 0x3164},   {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},
    {0xFFA0, 0xFFA0},   {0xFFF0, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F},
    {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
};

void AppendEscaped(std::string& out, std::string_view bytes) {
  for (const char c : bytes) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    out += escaped;
  }
}

// The code point of a well-formed UTF-8 sequence.
char32_t CodePoint(std::string_view sequence) {
  const auto lead = static_cast<unsigned char>(sequence[0]);
  if (sequence.size() == 1) return lead;
  char32_t point = lead & (0x7Fu >> sequence.size());
  for (const char c : sequence.substr(1)) point = (point << 6) | (static_cast<unsigned char>(c) & 0x3Fu);
  return point;
}

bool IsInvisible(char32_t point) {
  const auto after = std::upper_bound(std::begin(kInvisibleCharacters), std::end(kInvisibleCharacters), point,
                                      [](char32_t p, const CodePointRange& range) { return p < range.first; });
  return after != std::begin(kInvisibleCharacters) && point <= std::prev(after)->last;
}

bool IsControl(char32_t point, TerminalLayout layout) {
  if (layout == TerminalLayout::Lines && (point == '\n' || point == '\t')) return false;
  return point < 0x20 || (point >= 0x7F && point <= 0x9F);
}

}  // namespace

std::string TerminalText(std::string_view text, TerminalLayout layout) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t length = Utf8SequenceLength(text);
    const std::string_view sequence = text.substr(0, length == 0 ? 1 : length);
    if (length == 0 || IsControl(CodePoint(sequence), layout) || IsInvisible(CodePoint(sequence))) {
      AppendEscaped(out, sequence);
    } else {
      out += sequence;
    }
    text.remove_prefix(sequence.size());
  }
  return out;
}

}  // namespace kvd
