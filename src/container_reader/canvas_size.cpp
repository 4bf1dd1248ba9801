#include "container_reader/canvas_size.h"

#include <new>

#include "container_reader/container_header.h"

namespace kvd {
namespace {

// A side the document declares, when it is a whole number of at least 1.
std::optional<std::uint32_t> CanvasSide(const std::string& text) {
  const std::optional<std::int32_t> side = AttributeToInt(text);
  if (!side || *side < 1) return std::nullopt;
  return static_cast<std::uint32_t>(*side);
}

std::optional<CanvasSize> ReadFromContainer(ByteStream& stream) {
  if (!ReadMagic(stream)) return std::nullopt;
  const std::optional<HeaderWords> words = ReadHeaderWords(stream);
  if (!words) return std::nullopt;
  const ManifestText text = ReadManifestText(stream, words->manifestLength);
  if (text.result != ManifestRead::Complete) return std::nullopt;
  const std::optional<ManifestFields> fields = ParseManifest(text.text.data());
  return fields ? CanvasSizeOf(*fields) : std::nullopt;
}

}  // namespace

std::optional<CanvasSize> CanvasSizeOf(const ManifestFields& fields) {
  if (!fields.hasRoot) return std::nullopt;
  const std::optional<std::uint32_t> width = CanvasSide(fields.rootWidth);
  const std::optional<std::uint32_t> height = CanvasSide(fields.rootHeight);
  if (!width || !height) return std::nullopt;
  return CanvasSize{*width, *height};
}

std::optional<CanvasSize> ReadCanvasSize(ByteStream& stream) {
  try {
    return ReadFromContainer(stream);
  } catch (const std::bad_alloc&) {
    return std::nullopt;  // a manifest too large for the memory left: no size to tell
  }
}

}  // namespace kvd
