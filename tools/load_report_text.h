#pragma once

#include <string>

#include "container_reader/thumbnail_loader.h"

namespace kvd {

// One line a user understands: what the load drew and why.
std::string DescribeLoad(const LoadReport& report);

// A short stable key for the reason, for machine-readable output.
const char* LoadReasonKey(const LoadReport& report);

// "thumbnail", "placeholder" or "no-thumbnail".
const char* LoadOutcomeKey(LoadOutcome outcome);

// A payload's problem as a key, or "" when it decoded.
const char* PayloadResultKey(PayloadResult result);

}  // namespace kvd
