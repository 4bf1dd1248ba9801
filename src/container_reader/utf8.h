#pragma once

#include <cstddef>
#include <string_view>

namespace kvd {

// Length of the well-formed UTF-8 sequence at the start of text (1 for an
// ASCII byte), or 0 when it does not begin with one: no overlong forms, no
// surrogates, nothing above U+10FFFF, no sequence cut by the end of text.
std::size_t Utf8SequenceLength(std::string_view text);

bool IsValidUtf8(std::string_view text);

}  // namespace kvd
