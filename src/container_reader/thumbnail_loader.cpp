#include "container_reader/thumbnail_loader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "container_reader/chunk_reader.h"
#include "container_reader/container_header.h"
#include "container_reader/manifest.h"

namespace kvd {
namespace {

constexpr ruta::ArgbPixel kCheckerWhite = 0xFFFFFFFF;
constexpr ruta::ArgbPixel kCheckerGrey = 0xFFE0E0E0;
constexpr std::int32_t kPlaceholderSide = 64;

LoadReport NoThumbnail(LoadReport report, LoadReason reason) {
  report.outcome = LoadOutcome::NoThumbnail;
  report.reason = reason;
  return report;
}

// Converts one size attribute; when it does not convert, names it in the
// report and gives false.
bool ConvertAttribute(const char* name, const std::string& text, std::int32_t& out, LoadReport& report) {
  const std::optional<std::int32_t> value = AttributeToInt(text);
  if (value) {
    out = *value;
    return true;
  }
  report.badAttribute = name;
  report.badValue = text;
  return false;
}

// Width first, then height, as the loader always converts them.
bool ConvertSize(const std::string& width, const std::string& height, std::int32_t& widthOut,
                 std::int32_t& heightOut, LoadReport& report) {
  return ConvertAttribute("width", width, widthOut, report) && ConvertAttribute("height", height, heightOut, report);
}

bool IsRefusedSize(std::int32_t width, std::int32_t height) {
  if (width > kMaxThumbSide || height > kMaxThumbSide) return true;
  return width >= 1 && height >= 1 && static_cast<std::int64_t>(width) * height > kMaxThumbPixels;
}

// The payload bytes the picture can use; none when a side is below 1.
std::uint32_t PictureBytes(std::int32_t width, std::int32_t height) {
  if (width < 1 || height < 1) return 0;
  // The refused sizes keep this within 2^28.
  return static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) * sizeof(ruta::ArgbPixel);
}

// Copies what the payload holds of the picture; every image byte it does not
// cover becomes 0. Gives the number of bytes copied.
std::size_t CopyPicture(ruta::CImage32& image, std::uint32_t pictureBytes, const ByteBuffer& payload) {
  const auto imageBytes = static_cast<std::size_t>(ruta::PixelCount(image)) * sizeof(ruta::ArgbPixel);
  const std::size_t copied = std::min({std::size_t{pictureBytes}, payload.size(), imageBytes});
  auto* destination = reinterpret_cast<std::uint8_t*>(image.pixels);
  if (copied > 0) std::memcpy(destination, payload.data(), copied);
  std::memset(destination + copied, 0, imageBytes - copied);
  return copied;
}

// The rows of a width x height picture that bytes of payload reach, at
// least one.
std::int32_t RowsReached(std::int32_t width, std::int32_t height, std::size_t bytes) {
  const std::size_t rowBytes = static_cast<std::size_t>(width) * sizeof(ruta::ArgbPixel);
  return static_cast<std::int32_t>(
      std::clamp<std::size_t>((bytes + rowBytes - 1) / rowBytes, 1, static_cast<std::size_t>(height)));
}

// Sizes the image for the rows of the picture that the payload reaches; the
// rows below are transparent black and held nowhere. A picture with a side
// below 1 has no pixels: the image takes that size (clamped to 1).
void HoldReachedRows(ruta::CImage32& image, std::int32_t& pictureHeight, const LoadReport& report,
                     std::size_t payloadBytes) {
  if (report.pictureBytes == 0) {
    image.ResizeForOverwrite(report.thumbWidth, report.thumbHeight);
    pictureHeight = image.height;
    return;
  }
  // No more than payloadBytes, which is a size.
  const auto reached = static_cast<std::size_t>(std::min<std::uint64_t>(report.pictureBytes, payloadBytes));
  image.ResizeForOverwrite(report.thumbWidth, RowsReached(report.thumbWidth, report.thumbHeight, reached));
  pictureHeight = report.thumbHeight;
}

// Reads the Thumb's chunk into the image and says how it went.
LoadReport LoadPicture(ruta::CImage32& image, std::int32_t& pictureHeight, ByteStream& stream, LoadReport report) {
  report.pictureBytes = PictureBytes(report.thumbWidth, report.thumbHeight);
  ChunkHeader header;
  ByteBuffer payload;
  // Without the chunk no payload is delivered and the image stays transparent.
  const std::optional<PayloadDecoding> decoding =
      FindChunkDecoding(stream, report.bin, header, payload, static_cast<std::uint32_t>(report.pictureBytes));
  HoldReachedRows(image, pictureHeight, report, payload.size());
  if (image.pixels == nullptr) return NoThumbnail(report, LoadReason::OutOfMemory);
  report.payloadBytes = CopyPicture(image, static_cast<std::uint32_t>(report.pictureBytes), payload);
  if (report.pictureBytes == 0) return NoThumbnail(report, LoadReason::ThumbWithoutPixels);
  if (!decoding) return NoThumbnail(report, LoadReason::ChunkNotFound);
  report.compression = header.compression();
  report.payload = decoding->result;
  if (decoding->result != PayloadResult::Decoded) return NoThumbnail(report, LoadReason::ChunkRefused);
  if (report.payloadBytes == 0) return NoThumbnail(report, LoadReason::PayloadEmpty);
  report.outcome = LoadOutcome::Thumbnail;
  report.reason = report.payloadBytes < report.pictureBytes ? LoadReason::PartialPreview : LoadReason::WholePreview;
  return report;
}

LoadReport LoadContainer(ruta::CImage32& image, std::int32_t& pictureHeight, ByteStream& stream) {
  LoadReport report;
  const std::optional<HeaderWords> words = ReadHeaderWords(stream);
  if (!words) return NoThumbnail(report, LoadReason::HeaderCut);
  report.manifestLength = words->manifestLength;
  const ManifestText text = ReadManifestText(stream, words->manifestLength);
  report.manifestDelivered = text.delivered;
  if (text.result == ManifestRead::TooLong) return NoThumbnail(report, LoadReason::ManifestTooLong);
  if (text.result == ManifestRead::Cut) return NoThumbnail(report, LoadReason::ManifestCut);
  const std::optional<ManifestFields> fields = ParseManifest(text.text.data());
  if (!fields) return NoThumbnail(report, LoadReason::ManifestTooDeep);
  if (!fields->hasRoot) return NoThumbnail(report, LoadReason::NoRoot);
  // The root's own width and height must convert even though they are not used.
  std::int32_t unused = 0;
  if (!ConvertSize(fields->rootWidth, fields->rootHeight, unused, unused, report)) {
    return NoThumbnail(report, LoadReason::BadRootNumber);
  }
  if (!fields->hasThumb) return NoThumbnail(report, LoadReason::NoThumb);
  report.bin = fields->bin;
  if (!ConvertSize(fields->thumbWidth, fields->thumbHeight, report.thumbWidth, report.thumbHeight, report)) {
    return NoThumbnail(report, LoadReason::BadThumbNumber);
  }
  if (IsRefusedSize(report.thumbWidth, report.thumbHeight)) return NoThumbnail(report, LoadReason::ThumbTooLarge);

  return LoadPicture(image, pictureHeight, stream, report);
}

// Gives the image the picture's unheld rows, transparent black.
void ExtendToPictureHeight(ruta::CImage32& image, std::int32_t pictureHeight) {
  if (pictureHeight <= image.height || image.pixels == nullptr) return;
  const std::vector<ruta::ArgbPixel> held(image.pixels, image.pixels + ruta::PixelCount(image));
  if (!image.Resize(image.width, pictureHeight)) return;
  std::copy(held.begin(), held.end(), image.pixels);
}

LoadReport LoadReadableRows(ruta::CImage32& image, std::int32_t& pictureHeight, ByteStream& stream) {
  pictureHeight = image.height;
  if (!ReadMagic(stream)) {
    image.ResizeForOverwrite(kPlaceholderSide, kPlaceholderSide);
    ruta::FillChecker(image, image.width, image.height, kCheckerWhite, kCheckerGrey);
    pictureHeight = image.height;
    LoadReport report;
    report.outcome = LoadOutcome::Placeholder;
    report.reason = LoadReason::NotContainer;
    return report;
  }
  try {
    return LoadContainer(image, pictureHeight, stream);
  } catch (const std::bad_alloc&) {
    return NoThumbnail(LoadReport{}, LoadReason::OutOfMemory);
  }
}

// A failed read looks to the steps above like the end of the data; only
// here is it told apart, so that what was read before it, a checkerboard
// for a magic that never arrived or a preview cut short, is never taken for
// the document.
LoadReport LoadRows(ruta::CImage32& image, std::int32_t& pictureHeight, ByteStream& stream) {
  LoadReport report = LoadReadableRows(image, pictureHeight, stream);
  if (!stream.ReadFailed()) return report;
  report.outcome = LoadOutcome::ReadFailed;
  report.reason = LoadReason::ReadFailed;
  return report;
}

}  // namespace

LoadOutcome LoadThumbnailRows(ruta::CImage32& image, std::int32_t& pictureHeight, ByteStream& stream) {
  return LoadRows(image, pictureHeight, stream).outcome;
}

LoadReport LoadThumbnailImageWithReport(ruta::CImage32& image, ByteStream& stream) {
  std::int32_t pictureHeight = 0;
  const LoadReport report = LoadRows(image, pictureHeight, stream);
  if (report.outcome == LoadOutcome::ReadFailed) return report;
  try {
    ExtendToPictureHeight(image, pictureHeight);
  } catch (const std::bad_alloc&) {
    image.FreeBuffer();  // the picture cannot be had whole: as if its allocation failed
    return NoThumbnail(report, LoadReason::OutOfMemory);
  }
  return report;
}

LoadOutcome LoadThumbnailImage(ruta::CImage32& image, ByteStream& stream) {
  return LoadThumbnailImageWithReport(image, stream).outcome;
}

}  // namespace kvd
