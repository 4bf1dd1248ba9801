#include "container_reader/manifest.h"

#include <tinyxml.h>

#include <algorithm>
#include <boost/lexical_cast/try_lexical_convert.hpp>

namespace kvd {
namespace {

// Walks the markup of a manifest, one construct at a time.
class MarkupScanner {
 public:
  explicit MarkupScanner(std::string_view text) : text_(text.substr(0, text.find('\0'))) {}

  std::size_t DeepestNesting() {
    std::size_t depth = 0;
    std::size_t deepest = 0;
    while ((position_ = text_.find('<', position_)) != std::string_view::npos) {
      if (Skips("<!--", "-->") || Skips("<![CDATA[", "]]>") || Skips("<?", ">") || Skips("<!", ">")) continue;
      if (Skips("</", ">")) {
        if (depth > 0) --depth;
        continue;
      }
      if (!SkipsStartTagThatOpens()) continue;
      deepest = std::max(deepest, ++depth);
    }
    return deepest;
  }

 private:
  // Steps over a construct that begins at the current position with opening
  // and ends with closing (or runs to the end of the text).
  bool Skips(std::string_view opening, std::string_view closing) {
    if (!text_.substr(position_).starts_with(opening)) return false;
    const std::size_t end = text_.find(closing, position_ + opening.size());
    position_ = end == std::string_view::npos ? text_.size() : end + closing.size();
    return true;
  }

  // Steps over a start tag, quoted attribute values included; true unless the
  // tag closes itself with "/>".
  bool SkipsStartTagThatOpens() {
    char previous = '\0';
    for (++position_; position_ < text_.size(); ++position_) {
      const char c = text_[position_];
      if (c == '"' || c == '\'') {
        const std::size_t closingQuote = text_.find(c, position_ + 1);
        position_ = closingQuote == std::string_view::npos ? text_.size() - 1 : closingQuote;
      } else if (c == '>') {
        ++position_;
        return previous != '/';
      }
      previous = c;
    }
    return true;
  }

  std::string_view text_;
  std::size_t position_ = 0;
};

}  // namespace

std::size_t ManifestNestingDepth(std::string_view text) { return MarkupScanner(text).DeepestNesting(); }

std::string GetAttributeString(const TiXmlElement& element, const char* attributeName) {
  const char* value = element.Attribute(attributeName);
  return value == nullptr ? std::string() : std::string(value);
}

std::optional<ManifestFields> ParseManifest(const char* text) {
  if (ManifestNestingDepth(text) > kMaxManifestNesting) return std::nullopt;
  TiXmlDocument manifest;
  manifest.Parse(text, nullptr, TIXML_ENCODING_UNKNOWN);
  ManifestFields fields;
  const TiXmlElement* root = manifest.FirstChildElement("Dodiru");
  if (root == nullptr) return fields;
  fields.hasRoot = true;
  fields.rootWidth = GetAttributeString(*root, "width");
  fields.rootHeight = GetAttributeString(*root, "height");
  const TiXmlElement* thumb = root->FirstChildElement("Thumb");
  if (thumb == nullptr) return fields;
  fields.hasThumb = true;
  fields.thumbWidth = GetAttributeString(*thumb, "width");
  fields.thumbHeight = GetAttributeString(*thumb, "height");
  fields.bin = GetAttributeString(*thumb, "bin");
  return fields;
}

std::optional<std::int32_t> AttributeToInt(const std::string& value) {
  if (value.empty()) return 0;
  std::int32_t number = 0;
  if (!boost::conversion::try_lexical_convert(value, number)) return std::nullopt;
  return number;
}

}  // namespace kvd
