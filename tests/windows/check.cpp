#include "check.h"

#include <cstdio>

namespace kvd::wine {
namespace {

int g_failures = 0;

}  // namespace

void ReportFailure(const char* file, int line, const std::string& message) {
  ++g_failures;
  std::fprintf(stderr, "%s:%d: FAILED: %s\n", file, line, message.c_str());
}

int ExitStatus() {
  if (g_failures == 0) return 0;
  std::fprintf(stderr, "%d check(s) failed\n", g_failures);
  return 1;
}

}  // namespace kvd::wine
