#pragma once

#include <cstdint>
#include <string>

class TiXmlElement;

namespace kvd {

// The attribute's value as the parser delivers it, or "" when the element has
// no attribute of that name.
std::string GetAttributeString(const TiXmlElement& element, const char* attributeName);

// "" gives 0; anything else must be an optionally signed decimal int in range,
// else boost::bad_lexical_cast is thrown (surrounding spaces included).
std::int32_t AttributeToInt(const std::string& value);

}  // namespace kvd
