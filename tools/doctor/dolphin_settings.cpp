#include "doctor/dolphin_settings.h"

#include <string_view>

#include "doctor/user_files.h"

namespace kvd::doctor {
namespace {

constexpr std::string_view kGroup = "PreviewSettings";
constexpr std::string_view kKey = "Plugins";
// KDE's reader trims each line, key and value of ASCII white space; a file
// saved on Windows ends its lines in CRLF.
constexpr std::string_view kBlank = " \t\r\v\f";

// An empty result still points into text, where the value would begin.
std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return text.substr(0, 0);
  return text.substr(first, text.find_last_not_of(kBlank) + 1 - first);
}

std::vector<std::string> SplitList(std::string_view value) {
  std::vector<std::string> items;
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    const std::string_view item = Trim(value.substr(0, comma));
    if (!item.empty()) items.emplace_back(item);
    value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
  }
  return items;
}

struct GroupHeader {
  std::string name;  // "A\x1dB" for [A][B], B within A, as KDE names it
  bool immutable = false;
};

// A header line as KDE reads it: [A][B] opens B within A, a last [$i] makes
// the group's entries immutable (alone, every group's after it), and text
// after the last ']' is ignored. Nothing for a header that lacks a ']': KDE
// then stays in the group it was in.
std::optional<GroupHeader> ReadGroupHeader(std::string_view line) {
  GroupHeader header;
  std::size_t start = 1;
  for (;;) {
    const std::size_t end = line.find(']', start);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view part = line.substr(start, end - start);
    if (part == "$i" && end + 1 == line.size()) {
      header.immutable = true;
    } else {
      if (!header.name.empty()) header.name += '\x1d';
      header.name += part;
    }
    if (end + 1 >= line.size() || line[end + 1] != '[') return header;
    start = end + 2;
  }
}

struct KeyOptions {
  std::string_view key;  // without its [locale] and [$options]
  bool localized = false;
  bool immutable = false;  // [$i]
  bool deleted = false;    // [$d]: the key is taken as never saved
};

// The key left of '=' and the brackets after it, read from the right as KDE
// reads them: [$...] holds option letters, anything else is a locale; [$d]
// ends the reading. Nothing for a bracket that is not closed, or a second
// locale: KDE skips such a line.
std::optional<KeyOptions> ReadKey(std::string_view key) {
  KeyOptions options;
  for (std::size_t open; (open = key.rfind('[')) != std::string_view::npos; key = key.substr(0, open)) {
    const std::size_t close = key.find(']', open);
    if (close == std::string_view::npos) return std::nullopt;
    if (close > open + 1 && key[open + 1] == '$') {
      const std::string_view letters = key.substr(open + 2, close - open - 2);
      options.immutable = options.immutable || letters.find('i') != std::string_view::npos;
      if (letters.find('d') != std::string_view::npos) {
        options.deleted = true;
        options.key = key.substr(0, open);
        return options;
      }
    } else if (options.localized) {
      return std::nullopt;
    } else {
      options.localized = true;
    }
  }
  options.key = key;
  return options;
}

struct PluginsEntry {
  std::size_t valueBegin;  // where the value lies in the file's text
  std::size_t valueEnd;
  std::vector<std::string> plugins;
  bool immutable = false;
  bool deleted = false;
};

// The entry KDE takes: the last Plugins of every [PreviewSettings] in the
// file, unless an earlier one is immutable, which then stays. A key for a
// locale is left out: KDE reads it only under that locale, and Dolphin
// never writes one.
std::optional<PluginsEntry> FindPluginsEntry(std::string_view text) {
  std::optional<PluginsEntry> found;
  bool inGroup = false;
  bool groupImmutable = false;
  bool fileImmutable = false;
  for (std::size_t begin = 0; begin < text.size();) {
    const std::size_t newline = text.find('\n', begin);
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
    const std::string_view line = Trim(text.substr(begin, end - begin));
    begin = end + 1;
    if (line.empty() || line.starts_with('#')) continue;
    if (line.starts_with('[')) {
      groupImmutable = fileImmutable;
      if (const std::optional<GroupHeader> header = ReadGroupHeader(line)) {
        if (header->immutable && header->name.empty()) fileImmutable = true;
        inGroup = header->name == kGroup;
        groupImmutable = groupImmutable || header->immutable;
      }
      continue;
    }
    const std::size_t equals = line.find('=');
    const std::optional<KeyOptions> key = ReadKey(Trim(line.substr(0, equals)));
    if (!inGroup || !key || key->key != kKey || key->localized || (found && found->immutable)) continue;
    if (key->deleted) {
      found = PluginsEntry{0, 0, {}, groupImmutable || key->immutable, true};
    } else if (equals != std::string_view::npos) {
      const std::string_view value = Trim(line.substr(equals + 1));
      const auto valueBegin = static_cast<std::size_t>(value.data() - text.data());
      found = PluginsEntry{valueBegin, valueBegin + value.size(), SplitList(value),
                           groupImmutable || key->immutable, false};
    }
  }
  if (found && found->deleted) return std::nullopt;
  return found;
}

}  // namespace

std::optional<std::vector<std::string>> ReadDolphinPreviewPlugins(const std::filesystem::path& dolphinrc) {
  const std::optional<PluginsEntry> entry = FindPluginsEntry(ReadRegularFile(dolphinrc).value_or(""));
  if (!entry) return std::nullopt;
  return entry->plugins;
}

bool AddDolphinPreviewPlugin(const std::filesystem::path& dolphinrc, const std::string& plugin) {
  std::optional<std::string> text = ReadRegularFile(dolphinrc);
  const std::optional<PluginsEntry> entry = text ? FindPluginsEntry(*text) : std::nullopt;
  if (!entry) return false;
  // Written as KDE writes a list: no spaces, no empty entries.
  std::string list;
  for (const std::string& item : entry->plugins) list += item + ',';
  list += plugin;
  text->replace(entry->valueBegin, entry->valueEnd - entry->valueBegin, list);
  return ReplaceFileContent(dolphinrc, *text);
}

}  // namespace kvd::doctor
