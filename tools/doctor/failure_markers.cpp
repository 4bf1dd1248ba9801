#include "doctor/failure_markers.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <fstream>

#include "container_reader/container_format.h"

namespace kvd::doctor {
namespace {

// Markers are a few hundred bytes; a bigger chunk means it is no marker.
constexpr std::uint32_t kMaxMarkerChunkBytes = 64 * 1024;

std::uint32_t BigEndian32(const std::array<char, 8>& bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

// A file:// URI's path with its %XX escapes decoded; "" for other schemes.
std::string LocalPath(const std::string& uri) {
  constexpr std::string_view kScheme = "file://";
  if (!uri.starts_with(kScheme)) return "";
  std::string path;
  for (std::size_t i = kScheme.size(); i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
      path += static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      path += uri[i];
    }
  }
  return path;
}

bool EndsWithKvd(const std::string& uri) {
  constexpr std::string_view kExtension = ".kvd";
  if (uri.size() < kExtension.size()) return false;
  return std::equal(kExtension.begin(), kExtension.end(), uri.end() - kExtension.size(),
                    [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

bool BeginsWithMagic(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::array<char, kContainerMagic.size()> head{};
  return in.read(head.data(), head.size()) &&
         std::equal(head.begin(), head.end(), kContainerMagic.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

}  // namespace

std::string ReadPngText(const std::filesystem::path& png, const std::string& key) {
  constexpr std::string_view kSignature = "\x89PNG\r\n\x1a\n";
  std::ifstream in(png, std::ios::binary);
  std::array<char, 8> bytes{};
  if (!in.read(bytes.data(), bytes.size()) || std::string_view(bytes.data(), 8) != kSignature) return "";
  // Each chunk: length, type, data, CRC.
  while (in.read(bytes.data(), bytes.size())) {
    const std::uint32_t length = BigEndian32(bytes);
    const std::string type(bytes.data() + 4, 4);
    if (length > kMaxMarkerChunkBytes || type == "IEND") return "";
    std::string data(length, '\0');
    if (!in.read(data.data(), length) || !in.ignore(4)) return "";
    const std::size_t nul = data.find('\0');
    if (type == "tEXt" && nul != std::string::npos && data.substr(0, nul) == key) return data.substr(nul + 1);
  }
  return "";
}

std::vector<FailureMarker> FindKvdFailureMarkers(const std::filesystem::path& cacheDir) {
  std::vector<FailureMarker> markers;
  std::error_code error;
  for (const auto& app : std::filesystem::directory_iterator(cacheDir / "thumbnails" / "fail", error)) {
    std::error_code inner;
    for (const auto& item : std::filesystem::directory_iterator(app.path(), inner)) {
      if (item.path().extension() != ".png" || !item.is_regular_file(inner)) continue;
      const std::string uri = ReadPngText(item.path(), "Thumb::URI");
      if (!uri.empty() && (EndsWithKvd(uri) || BeginsWithMagic(LocalPath(uri)))) markers.push_back({item.path(), uri});
    }
  }
  std::ranges::sort(markers, {}, &FailureMarker::marker);
  return markers;
}

}  // namespace kvd::doctor
