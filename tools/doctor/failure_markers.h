#pragma once

// Failure markers in the freedesktop thumbnail cache: a file manager whose
// thumbnailer failed on a file writes a small PNG under
// thumbnails/fail/APPLICATION/, named like the thumbnail and carrying the
// file's URI (Thumb::URI) and modification time, and does not try that file
// again until it changes.

#include <filesystem>
#include <string>
#include <vector>

namespace kvd::doctor {

struct FailureMarker {
  std::filesystem::path marker;
  std::string uri;
};

// The text value stored under key in a PNG's tEXt chunks, or "" when it has
// none or the file is not a PNG.
std::string ReadPngText(const std::filesystem::path& png, const std::string& key);

struct KvdFailureMarkers {
  std::vector<FailureMarker> kvd;
  // Markers of local files that did not answer in time (on a network mount
  // that is down, say): whether they are .kvd documents is not known.
  std::vector<FailureMarker> unanswered;
};

// The markers under cacheDir/thumbnails/fail/ for .kvd documents: URIs ending
// in .kvd, and local files that begin with the container's magic whatever
// their name. Finishes within seconds whatever the markers name.
KvdFailureMarkers FindKvdFailureMarkers(const std::filesystem::path& cacheDir);

}  // namespace kvd::doctor
