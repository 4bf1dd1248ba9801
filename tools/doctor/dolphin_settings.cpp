#include "doctor/dolphin_settings.h"

#include <string_view>

#include "doctor/user_files.h"

namespace kvd::doctor {
namespace {

constexpr std::string_view kGroup = "[PreviewSettings]";
constexpr std::string_view kKey = "Plugins";
// KDE's reader trims each line, key and value; a file saved on Windows
// ends its lines in CRLF.
constexpr std::string_view kBlank = " \t\r";

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

struct PluginsEntry {
  std::size_t valueBegin;  // where the value lies in the file's text
  std::size_t valueEnd;
  std::vector<std::string> plugins;
};

std::optional<PluginsEntry> FindPluginsEntry(std::string_view text) {
  bool inGroup = false;
  for (std::size_t begin = 0; begin < text.size();) {
    const std::size_t newline = text.find('\n', begin);
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
    const std::string_view line = Trim(text.substr(begin, end - begin));
    const std::size_t equals = line.find('=');
    if (line.starts_with('[')) {
      inGroup = line == kGroup;
    } else if (inGroup && equals != std::string_view::npos && Trim(line.substr(0, equals)) == kKey) {
      const std::string_view value = Trim(line.substr(equals + 1));
      const auto valueBegin = static_cast<std::size_t>(value.data() - text.data());
      return PluginsEntry{valueBegin, valueBegin + value.size(), SplitList(value)};
    }
    begin = end + 1;
  }
  return std::nullopt;
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
