#include "container_reader/thumbnail_loader.h"

#include <tinyxml.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "container_reader/chunk_reader.h"
#include "container_reader/container_format.h"
#include "container_reader/manifest.h"
#include "container_reader/stream_reading.h"

namespace kvd {
namespace {

// The parser may step over a multi-byte UTF-8 sequence that begins within the
// last bytes of the text and so read past its terminator; these zero bytes
// keep such a read inside the buffer, seeing NUL.
constexpr std::size_t kManifestZeroPadding = 4;

constexpr ruta::ArgbPixel kCheckerWhite = 0xFFFFFFFF;
constexpr ruta::ArgbPixel kCheckerGrey = 0xFFE0E0E0;
constexpr std::int32_t kPlaceholderSide = 64;

struct ThumbDescription {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::string bin;
};

bool ReadMagic(ByteStream& stream) {
  std::array<std::uint8_t, kContainerMagic.size()> magic{};
  return stream.Read(magic.data(), magic.size()) == magic.size() && magic == kContainerMagic;
}

// Reads the three header words, one at a time as they stand in the file, and
// the manifest; nullopt when the stream ends early or the manifest is too long
// to be used (it is then skipped, so the stream stands behind it either way).
std::optional<std::vector<char>> ReadManifestText(ByteStream& stream) {
  constexpr std::uint32_t kWordSize = 4;
  std::array<std::array<std::uint8_t, kWordSize>, 3> words{};
  for (auto& word : words) {
    if (stream.Read(word.data(), kWordSize) < kWordSize) return std::nullopt;
  }
  const std::uint32_t manifestLength = ReadLittleEndian32(words[1].data());
  if (manifestLength > kMaxManifestBytes) {
    stream.Skip(manifestLength);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  if (!ReadGrowing(stream, manifestLength, bytes)) return std::nullopt;
  std::vector<char> text(bytes.size() + 1 + kManifestZeroPadding, '\0');
  if (!bytes.empty()) std::memcpy(text.data(), bytes.data(), bytes.size());
  return text;
}

// Finds Dodiru and its Thumb. The root's own width and height must convert
// even though they are not used.
std::optional<ThumbDescription> DescribeThumb(const TiXmlDocument& manifest) {
  const TiXmlElement* root = manifest.FirstChildElement("Dodiru");
  if (root == nullptr) return std::nullopt;
  if (!AttributeToInt(GetAttributeString(*root, "width")) || !AttributeToInt(GetAttributeString(*root, "height"))) {
    return std::nullopt;
  }
  const TiXmlElement* thumb = root->FirstChildElement("Thumb");
  if (thumb == nullptr) return std::nullopt;
  const std::optional<std::int32_t> width = AttributeToInt(GetAttributeString(*thumb, "width"));
  const std::optional<std::int32_t> height = AttributeToInt(GetAttributeString(*thumb, "height"));
  if (!width || !height) return std::nullopt;
  return ThumbDescription{*width, *height, GetAttributeString(*thumb, "bin")};
}

bool IsRefusedSize(const ThumbDescription& thumb) {
  if (thumb.width > kMaxThumbSide || thumb.height > kMaxThumbSide) return true;
  return thumb.width >= 1 && thumb.height >= 1 &&
         static_cast<std::int64_t>(thumb.width) * thumb.height > kMaxThumbPixels;
}

// The payload bytes the picture can use; none when a side is below 1.
std::uint32_t PictureBytes(const ThumbDescription& thumb) {
  if (thumb.width < 1 || thumb.height < 1) return 0;
  // The refused sizes keep this within 2^28.
  return static_cast<std::uint32_t>(thumb.width) * static_cast<std::uint32_t>(thumb.height) *
         sizeof(ruta::ArgbPixel);
}

// Copies what the payload holds of the picture; every image byte it does not
// cover becomes 0.
bool CopyPicture(ruta::CImage32& image, const ThumbDescription& thumb,
                 const std::vector<std::uint8_t>& payload) {
  if (image.pixels == nullptr) return false;
  const auto imageBytes = static_cast<std::size_t>(ruta::PixelCount(image)) * sizeof(ruta::ArgbPixel);
  const std::size_t copied = std::min({std::size_t{PictureBytes(thumb)}, payload.size(), imageBytes});
  auto* destination = reinterpret_cast<std::uint8_t*>(image.pixels);
  if (copied > 0) std::memcpy(destination, payload.data(), copied);
  std::memset(destination + copied, 0, imageBytes - copied);
  return copied > 0;
}

LoadOutcome LoadContainer(ruta::CImage32& image, ByteStream& stream) {
  const std::optional<std::vector<char>> text = ReadManifestText(stream);
  if (!text || ManifestNestingDepth(text->data()) > kMaxManifestNesting) return LoadOutcome::NoThumbnail;
  TiXmlDocument manifest;
  manifest.Parse(text->data(), nullptr, TIXML_ENCODING_UNKNOWN);
  const std::optional<ThumbDescription> thumb = DescribeThumb(manifest);
  if (!thumb || IsRefusedSize(*thumb)) return LoadOutcome::NoThumbnail;

  image.Resize(thumb->width, thumb->height);
  ChunkHeader header;
  std::vector<std::uint8_t> payload;
  // Without the chunk no payload is delivered and the image stays transparent.
  FindChunk(stream, thumb->bin, header, payload, PictureBytes(*thumb));
  return CopyPicture(image, *thumb, payload) ? LoadOutcome::Thumbnail : LoadOutcome::NoThumbnail;
}

}  // namespace

LoadOutcome LoadThumbnailImage(ruta::CImage32& image, ByteStream& stream) {
  if (!ReadMagic(stream)) {
    image.Resize(kPlaceholderSide, kPlaceholderSide);
    ruta::FillChecker(image, image.width, image.height, kCheckerWhite, kCheckerGrey);
    return LoadOutcome::Placeholder;
  }
  try {
    return LoadContainer(image, stream);
  } catch (const std::bad_alloc&) {
    return LoadOutcome::NoThumbnail;
  }
}

}  // namespace kvd
