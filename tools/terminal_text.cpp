#include "terminal_text.h"

#include <cstdio>

#include "container_reader/utf8.h"

namespace kvd {
namespace {

void AppendEscaped(std::string& out, std::string_view bytes) {
  for (const char c : bytes) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    out += escaped;
  }
}

bool IsControl(std::string_view sequence, TerminalLayout layout) {
  const auto lead = static_cast<unsigned char>(sequence[0]);
  if (layout == TerminalLayout::Lines && (lead == '\n' || lead == '\t')) return false;
  if (lead < 0x20 || lead == 0x7F) return true;
  // U+0080 to U+009F.
  return lead == 0xC2 && static_cast<unsigned char>(sequence[1]) < 0xA0;
}

}  // namespace

std::string TerminalText(std::string_view text, TerminalLayout layout) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t length = Utf8SequenceLength(text);
    const std::string_view sequence = text.substr(0, length == 0 ? 1 : length);
    if (length == 0 || IsControl(sequence, layout)) {
      AppendEscaped(out, sequence);
    } else {
      out += sequence;
    }
    text.remove_prefix(sequence.size());
  }
  return out;
}

}  // namespace kvd
