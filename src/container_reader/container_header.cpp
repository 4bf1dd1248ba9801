#include "container_reader/container_header.h"

#include <array>
#include <cstring>

#include "container_reader/container_format.h"
#include "container_reader/stream_reading.h"

namespace kvd {
namespace {

// The parser may step over a multi-byte UTF-8 sequence that begins within the
// last bytes of the text and so read past its terminator; these zero bytes
// keep such a read inside the buffer, seeing NUL.
constexpr std::size_t kManifestZeroPadding = 4;

constexpr std::uint32_t kWordSize = 4;

}  // namespace

bool ReadMagic(ByteStream& stream) {
  std::array<std::uint8_t, kContainerMagic.size()> magic{};
  return stream.Read(magic.data(), magic.size()) == magic.size() && magic == kContainerMagic;
}

std::optional<HeaderWords> ReadHeaderWords(ByteStream& stream) {
  std::array<std::array<std::uint8_t, kWordSize>, 3> words{};
  for (auto& word : words) {
    if (stream.Read(word.data(), kWordSize) < kWordSize) return std::nullopt;
  }
  return HeaderWords{ReadLittleEndian32(words[0].data()), ReadLittleEndian32(words[1].data()),
                     ReadLittleEndian32(words[2].data())};
}

ManifestText ReadManifestText(ByteStream& stream, std::uint32_t manifestLength) {
  ManifestText manifest;
  if (manifestLength > kMaxManifestBytes) {
    stream.Skip(manifestLength);
    manifest.result = ManifestRead::TooLong;
    return manifest;
  }
  ByteBuffer bytes;
  const bool complete = ReadGrowing(stream, manifestLength, bytes);
  manifest.delivered = static_cast<std::uint32_t>(bytes.size());
  if (!complete) manifest.result = ManifestRead::Cut;
  manifest.text.assign(bytes.size() + 1 + kManifestZeroPadding, '\0');
  if (!bytes.empty()) std::memcpy(manifest.text.data(), bytes.data(), bytes.size());
  return manifest;
}

}  // namespace kvd
