#pragma once

// A freedesktop thumbnailer entry (share/thumbnailers/*.thumbnailer) and the
// way a file manager turns its Exec line into a command.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kvd::doctor {

struct ThumbnailerEntry {
  std::filesystem::path file;
  std::string tryExec;
  std::string exec;
  std::vector<std::string> mimeTypes;
};

// The [Thumbnailer Entry] group of file, or nothing when it has none.
std::optional<ThumbnailerEntry> ReadThumbnailerEntry(const std::filesystem::path& file);

// The first entry serving mimeType along dataDirs (each DIR/thumbnailers), in
// the order file managers search them: the first folder wins.
std::optional<ThumbnailerEntry> FindThumbnailerFor(const std::string& mimeType,
                                                   const std::vector<std::filesystem::path>& dataDirs);

// The Exec line split into words as a desktop entry quotes them, with %i, %u,
// %o and %s replaced. Returns nothing for a line with an unclosed quote.
std::optional<std::vector<std::string>> ExpandExecLine(const std::string& exec, const std::string& input,
                                                       const std::string& inputUri, const std::string& output,
                                                       int size);

}  // namespace kvd::doctor
