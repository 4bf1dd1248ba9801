#pragma once

#include <string>
#include <string_view>

namespace kvd {

// text as a JSON string literal, quotes included. Valid UTF-8 passes through;
// each byte that is not part of a valid sequence becomes U+FFFD, so that the
// output is always valid JSON whatever bytes a file holds.
std::string JsonString(std::string_view text);

}  // namespace kvd
