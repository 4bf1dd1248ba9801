#include "container_reader/manifest.h"

#include <tinyxml.h>

#include <boost/lexical_cast.hpp>

namespace kvd {

std::string GetAttributeString(const TiXmlElement& element, const char* attributeName) {
  const char* value = element.Attribute(attributeName);
  return value == nullptr ? std::string() : std::string(value);
}

std::int32_t AttributeToInt(const std::string& value) {
  if (value.empty()) return 0;
  return boost::lexical_cast<std::int32_t>(value);
}

}  // namespace kvd
