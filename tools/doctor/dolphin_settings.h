#pragma once

// Dolphin's saved list of enabled preview plugins: key Plugins in group
// [PreviewSettings] of dolphinrc. Once saved, Dolphin asks only the plugins
// named there, so a plugin installed later stays off until it is added.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kvd::doctor {

// The saved list as KDE's configuration reader reads it (the entry it takes
// among repeated keys and groups, option markers such as [$e] and [$i]
// read; entries trimmed, empty ones dropped), or nothing when dolphinrc has
// none or deletes it with [$d] (Dolphin then uses its defaults, which
// enable every installed plugin of a known kind).
std::optional<std::vector<std::string>> ReadDolphinPreviewPlugins(const std::filesystem::path& dolphinrc);

// Adds plugin to the saved list on the line KDE reads it from, keeping
// every other byte of the file. Returns false when the file cannot be
// rewritten.
bool AddDolphinPreviewPlugin(const std::filesystem::path& dolphinrc, const std::string& plugin);

}  // namespace kvd::doctor
