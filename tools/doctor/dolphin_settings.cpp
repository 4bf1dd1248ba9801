#include "doctor/dolphin_settings.h"

#include <sstream>

#include "doctor/user_files.h"

namespace kvd::doctor {
namespace {

constexpr std::string_view kGroup = "[PreviewSettings]";
constexpr std::string_view kKey = "Plugins=";

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::istringstream in(ReadRegularFile(file).value_or(""));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The index of the Plugins line inside the group, if there is one.
std::optional<std::size_t> FindPluginsLine(const std::vector<std::string>& lines) {
  bool inGroup = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].starts_with('[')) inGroup = lines[i] == kGroup;
    if (inGroup && lines[i].starts_with(kKey)) return i;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::string>> ReadDolphinPreviewPlugins(const std::filesystem::path& dolphinrc) {
  const std::vector<std::string> lines = ReadLines(dolphinrc);
  const std::optional<std::size_t> index = FindPluginsLine(lines);
  if (!index) return std::nullopt;
  std::vector<std::string> plugins;
  std::istringstream list(lines[*index].substr(kKey.size()));
  for (std::string plugin; std::getline(list, plugin, ',');) {
    if (!plugin.empty()) plugins.push_back(plugin);
  }
  return plugins;
}

bool AddDolphinPreviewPlugin(const std::filesystem::path& dolphinrc, const std::string& plugin) {
  std::vector<std::string> lines = ReadLines(dolphinrc);
  const std::optional<std::size_t> index = FindPluginsLine(lines);
  if (!index) return false;
  std::string& line = lines[*index];
  if (line.size() > kKey.size()) line += ',';
  line += plugin;
  std::string content;
  for (const std::string& text : lines) content += text + '\n';
  return ReplaceFileContent(dolphinrc, content);
}

}  // namespace kvd::doctor
