#pragma once

// Whether a file is an online-only cloud file, told by its attributes alone:
// reading them neither opens nor downloads the file. A sync program draws
// such a file's thumbnail itself; Explorer asks no thumbnail handler.

#include <cstdint>

namespace kvd::windoctor {

// The attribute bits of Windows' file attributes that mark a placeholder
// whose data is elsewhere.
inline constexpr std::uint32_t kAttributeOffline = 0x1000;
inline constexpr std::uint32_t kAttributeRecallOnOpen = 0x40000;
inline constexpr std::uint32_t kAttributeRecallOnDataAccess = 0x400000;

constexpr bool IsOnlineOnly(std::uint32_t attributes) {
  return (attributes & (kAttributeOffline | kAttributeRecallOnOpen | kAttributeRecallOnDataAccess)) != 0;
}

}  // namespace kvd::windoctor
