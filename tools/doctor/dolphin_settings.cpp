#include "doctor/dolphin_settings.h"

#include <fstream>
#include <sstream>

namespace kvd::doctor {
namespace {

constexpr std::string_view kGroup = "[PreviewSettings]";
constexpr std::string_view kKey = "Plugins=";

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
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
  // Written beside the file and renamed over it, so that a failed write
  // leaves the user's settings as they were.
  const std::filesystem::path temporary = dolphinrc.string() + ".kvd-doctor";
  {
    std::ofstream out(temporary, std::ios::trunc);
    for (const std::string& text : lines) out << text << '\n';
    if (!out.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, dolphinrc, error);
  return !error;
}

}  // namespace kvd::doctor
