#include "doctor/thumbnailer_entry.h"

#include <algorithm>
#include <sstream>

#include "doctor/user_files.h"

namespace kvd::doctor {
namespace {

std::vector<std::string> SplitList(const std::string& value) {
  std::vector<std::string> items;
  std::istringstream stream(value);
  std::string item;
  while (std::getline(stream, item, ';')) {
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

std::string ReplaceFieldCodes(const std::string& word, const std::string& input, const std::string& inputUri,
                              const std::string& output, int size) {
  std::string result;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%' || i + 1 == word.size()) {
      result += word[i];
      continue;
    }
    switch (word[++i]) {
      case 'i':
        result += input;
        break;
      case 'u':
        result += inputUri;
        break;
      case 'o':
        result += output;
        break;
      case 's':
        result += std::to_string(size);
        break;
      case '%':
        result += '%';
        break;
      default:
        break;  // codes a thumbnailer has no use for expand to nothing
    }
  }
  return result;
}

}  // namespace

std::optional<ThumbnailerEntry> ReadThumbnailerEntry(const std::filesystem::path& file) {
  const std::optional<std::string> text = ReadRegularFile(file);
  if (!text) return std::nullopt;
  std::istringstream in(*text);
  ThumbnailerEntry entry;
  entry.file = file;
  bool inGroup = false;
  bool sawGroup = false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with('[')) {
      inGroup = line == "[Thumbnailer Entry]";
      sawGroup = sawGroup || inGroup;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inGroup || equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "TryExec") entry.tryExec = value;
    if (key == "Exec") entry.exec = value;
    if (key == "MimeType") entry.mimeTypes = SplitList(value);
  }
  if (!sawGroup) return std::nullopt;
  return entry;
}

std::optional<ThumbnailerEntry> FindThumbnailerFor(const std::string& mimeType,
                                                   const std::vector<std::filesystem::path>& dataDirs) {
  for (const std::filesystem::path& dir : dataDirs) {
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (const auto& item : std::filesystem::directory_iterator(dir / "thumbnailers", error)) {
      if (item.path().extension() == ".thumbnailer") files.push_back(item.path());
    }
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path& file : files) {
      std::optional<ThumbnailerEntry> entry = ReadThumbnailerEntry(file);
      if (entry && std::ranges::find(entry->mimeTypes, mimeType) != entry->mimeTypes.end()) return entry;
    }
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> ExpandExecLine(const std::string& exec, const std::string& input,
                                                       const std::string& inputUri, const std::string& output,
                                                       int size) {
  // Desktop entries quote a word in double quotes, in which a backslash
  // escapes ", `, $ and itself.
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) {
        word += exec[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        word += c;
      }
    } else if (c == '"') {
      quoted = inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(ReplaceFieldCodes(word, input, inputUri, output, size));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quoted) return std::nullopt;
  if (inWord) words.push_back(ReplaceFieldCodes(word, input, inputUri, output, size));
  return words;
}

}  // namespace kvd::doctor
