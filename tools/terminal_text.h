#pragma once

#include <string>
#include <string_view>

namespace kvd {

enum class TerminalLayout {
  OneLine,  // a value within a line of ours: newline and tab are escaped too
  Lines,    // a block of text shown as it is laid out: newline and tab stay
};

// Bytes from a document made safe to print on a terminal: control characters
// (C0, DEL, and C1 as UTF-8 or as single bytes, any of which a terminal may
// obey), format and other invisible characters (zero-width, direction marks
// and overrides, tags, variation selectors, fillers, line and paragraph
// separators, spaces other than U+0020: drawn as nothing or as space only,
// or reordering what follows) and bytes that are not valid
// UTF-8 become \xHH per byte, a NUL included, so that a document can neither
// move the cursor, retitle the window nor forge a line, and nothing it holds
// goes unseen.
std::string TerminalText(std::string_view text, TerminalLayout layout = TerminalLayout::OneLine);

}  // namespace kvd
