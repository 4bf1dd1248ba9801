#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class TiXmlElement;

namespace kvd {

// Real manifests nest two or three elements deep. The XML parser recurses once
// per level, both to parse and to free the tree, so a deeper manifest is
// refused before it is parsed: this depth stays far inside the smallest stack
// a shell worker thread has (256 KiB), while 100,000 levels would overflow it.
inline constexpr std::size_t kMaxManifestNesting = 256;

// The deepest element nesting in text, in one pass: start tags count up, end
// tags down, and what the parser never reads as elements (comments,
// declarations, CDATA sections, quoted attribute values) is stepped over. Never
// below the depth the parser reaches; the text ends at its first NUL, as the
// parser's does.
std::size_t ManifestNestingDepth(std::string_view text);

// What the loader reads of a manifest: the attribute values as the parser
// delivers them ("" for an absent attribute).
struct ManifestFields {
  bool hasRoot = false;  // the first top-level element named Dodiru
  std::string rootWidth;
  std::string rootHeight;
  bool hasThumb = false;  // the root's first child element named Thumb
  std::string thumbWidth;
  std::string thumbHeight;
  std::string bin;
};

// Parses the NUL-terminated manifest text and takes those fields; the
// parser's error state is not consulted, the search runs over whatever nodes
// it produced. nullopt, without parsing, for text nested deeper than
// kMaxManifestNesting.
std::optional<ManifestFields> ParseManifest(const char* text);

// The attribute's value as the parser delivers it, or "" when the element has
// no attribute of that name.
std::string GetAttributeString(const TiXmlElement& element, const char* attributeName);

// "" gives 0; anything else must be an optionally signed decimal int in range
// (no surrounding spaces), else nullopt. Throws nothing.
std::optional<std::int32_t> AttributeToInt(const std::string& value);

}  // namespace kvd
