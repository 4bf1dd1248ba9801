#pragma once

// What the command-line tools share: their exit statuses and the request for
// help.

#include <string_view>

namespace kvd::tools {

// 0 is success; an input that cannot be read or an output that cannot be
// written is a failure; wrong arguments are a usage mistake.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Any -h or --help asks for the usage, wherever it stands among the arguments.
inline bool AsksForHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "-h" || argument == "--help") return true;
  }
  return false;
}

}  // namespace kvd::tools
