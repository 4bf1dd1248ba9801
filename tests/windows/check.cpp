#include "check.h"

#include <atomic>
#include <cstdio>

namespace kvd::wine {
namespace {

// Checks may fail on several threads at once.
std::atomic<int> g_failures{0};

}  // namespace

void ReportFailure(const char* file, int line, const std::string& message) {
  ++g_failures;
  std::fprintf(stderr, "%s:%d: FAILED: %s\n", file, line, message.c_str());
}

int ExitStatus() {
  if (g_failures == 0) return 0;
  std::fprintf(stderr, "%d check(s) failed\n", g_failures.load());
  return 1;
}

}  // namespace kvd::wine
