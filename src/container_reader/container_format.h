#pragma once

// The .kvd container, as this reader sees it. Integers are little-endian.
//
//   offset  size  field
//   0       8     magic "voxpack\0"
//   8       4     header word 1 (not interpreted)
//   12      4     manifestLength N
//   16      4     header word 3 (not interpreted)
//   20      N     manifest: XML text, not NUL-terminated
//   20+N    ...   chunk records, to the end of the stream or to the first
//                 record without the tag
//
// Manifest, only these parts are read:
//   <Dodiru width="..." height="...">        first top-level element of that name;
//     <Thumb width="W" height="H" bin="name"/>  its first child of that name
//   </Dodiru>
//
// Chunk record: a 132-byte header, then storedSize payload bytes, no padding.
//
//   offset  size  field
//   0       4     tag "PAC "
//   4       4     (not interpreted)
//   8       4     compression: 0 stored, 1 zlib stream
//   12      4     storedSize: payload bytes in the file
//   16      4     decodedSize: payload bytes once decoded
//   20      48    (not interpreted)
//   68      64    name: up to the first NUL, or all 64 bytes
//
// The thumbnail chunk decodes to W x H pixels of 4 bytes (blue, green, red,
// alpha), row-major, top row first.

#include <array>
#include <cstddef>
#include <cstdint>

namespace kvd {

inline constexpr std::array<std::uint8_t, 8> kContainerMagic = {'v', 'o', 'x', 'p',
                                                                'a', 'c', 'k', '\0'};
inline constexpr std::array<std::uint8_t, 4> kChunkTag = {'P', 'A', 'C', ' '};

inline constexpr std::size_t kContainerHeaderSize = 20;  // magic and three words
inline constexpr std::size_t kChunkHeaderSize = 132;
inline constexpr std::size_t kChunkCompressionOffset = 8;
inline constexpr std::size_t kChunkStoredSizeOffset = 12;
inline constexpr std::size_t kChunkDecodedSizeOffset = 16;
inline constexpr std::size_t kChunkNameOffset = 68;
inline constexpr std::size_t kChunkNameSize = 64;

inline constexpr std::uint32_t kCompressionStored = 0;
inline constexpr std::uint32_t kCompressionZlib = 1;

inline std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

}  // namespace kvd
