#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace kvd {

// The provider class, {74408BFC-4515-4D3B-9597-C7242D87358C}. Registered
// installations know the class by it: it never changes.
extern const CLSID CLSID_KvdThumbnailProvider;

// The module's own instance handle, kept at process attach.
extern HINSTANCE g_moduleHandle;

// Live factories, live providers and outstanding server locks. An unmatched
// unlock takes it below 0 all the same.
extern std::atomic<std::int32_t> g_moduleUsageCount;

}  // namespace kvd
