#pragma once

#include <cstdint>
#include <string>

#include "container_reader/byte_stream.h"
#include "container_reader/chunk_reader.h"
#include "raster/image.h"

namespace kvd {

// Thumb sides and pixel count beyond these are refused before any allocation:
// they keep every later size and index well inside signed 32 bits (the
// resampler's positions need sides below 32768) and cap the image at 256 MiB.
inline constexpr std::int32_t kMaxThumbSide = 32767;
inline constexpr std::int64_t kMaxThumbPixels = std::int64_t{1} << 26;

// How a load ended. The shell draws whatever the image holds in the first
// three cases; the command-line tools tell the user which case it was.
enum class LoadOutcome {
  Thumbnail,    // the stored preview was copied into the image
  Placeholder,  // not a container: the image is the 64 x 64 checkerboard
  NoThumbnail,  // a container without a usable manifest, Thumb, chunk or payload
  ReadFailed,   // the stream failed to read: nothing is known of the document,
                // and the image is not to be shown
};

// Why a load ended as it did: the first thing the loader found missing or
// refused, in the order it reads.
enum class LoadReason {
  WholePreview,        // Thumbnail: the payload held the whole picture
  PartialPreview,      // Thumbnail: the payload held only its first bytes
  NotContainer,        // Placeholder
  HeaderCut,           // the file ends inside the three header words
  ManifestTooLong,     // manifestLength above kMaxManifestBytes
  ManifestCut,         // the file ends inside the manifest
  ManifestTooDeep,     // nested deeper than kMaxManifestNesting
  NoRoot,              // no top-level Dodiru element
  BadRootNumber,       // a root width or height that is not a whole number
  NoThumb,             // Dodiru without a Thumb child
  BadThumbNumber,      // a Thumb width or height that is not a whole number
  ThumbTooLarge,       // beyond kMaxThumbSide or kMaxThumbPixels
  ThumbWithoutPixels,  // a Thumb side below 1
  ChunkNotFound,
  ChunkRefused,        // the chunk's payload did not decode: see payload
  PayloadEmpty,        // the chunk decodes to no bytes at all
  OutOfMemory,
  ReadFailed,          // ReadFailed: a read of the stream failed
};

// A load's outcome with its reason and the facts a user needs to understand it.
struct LoadReport {
  LoadOutcome outcome = LoadOutcome::NoThumbnail;
  LoadReason reason = LoadReason::NoRoot;
  std::uint32_t manifestLength = 0;
  std::uint32_t manifestDelivered = 0;  // ManifestCut: what the file held of it
  std::string badAttribute;             // Bad...Number: "width" or "height"
  std::string badValue;
  std::int32_t thumbWidth = 0;  // from ThumbTooLarge on
  std::int32_t thumbHeight = 0;
  std::string bin;
  PayloadResult payload = PayloadResult::Decoded;  // ChunkRefused: why
  std::uint32_t compression = 0;                   // of the chunk, once found
  std::uint64_t pictureBytes = 0;                  // from ChunkNotFound on
  std::uint64_t payloadBytes = 0;                  // bytes of the picture the payload held
};

// Reads the container from the stream's current position and leaves the
// stored preview in image. Where the container lacks what it needs, the image
// is left as it came in, or, once the Thumb size is known, cleared to
// transparent black at that size. Throws nothing: a manifest nested deeper than
// kMaxManifestNesting, a manifest number that does not convert, or memory that
// runs out ends the load as NoThumbnail. A read that fails, wherever it
// strikes, ends it as ReadFailed.
LoadOutcome LoadThumbnailImage(ruta::CImage32& image, ByteStream& stream);

// The same load at the cost of the bytes the file delivers. The picture is
// image.width x pictureHeight, of which image holds the top image.height rows
// (the row the payload ends in completed with transparent black); the rows
// below are transparent black and held nowhere, so a Thumb that declares a
// large picture but delivers a small payload costs only that payload.
// pictureHeight is image.height except after such a short payload.
LoadOutcome LoadThumbnailRows(ruta::CImage32& image, std::int32_t& pictureHeight, ByteStream& stream);

// The same load, reporting why it ended as it did.
LoadReport LoadThumbnailImageWithReport(ruta::CImage32& image, ByteStream& stream);

}  // namespace kvd
