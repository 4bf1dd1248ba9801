#pragma once

#include <cstdint>

#include "container_reader/byte_stream.h"
#include "raster/image.h"

namespace kvd {

// A manifest is a few hundred bytes of XML; one above this is not parsed, so
// that a hostile length cannot make the parser chew through memory.
inline constexpr std::uint32_t kMaxManifestBytes = 16u * 1024 * 1024;

// Thumb sides and pixel count beyond these are refused before any allocation:
// they keep every later size and index well inside signed 32 bits (the
// resampler's positions need sides below 32768) and cap the image at 256 MiB.
inline constexpr std::int32_t kMaxThumbSide = 32767;
inline constexpr std::int64_t kMaxThumbPixels = std::int64_t{1} << 26;

// How a load ended. The shell draws whatever the image holds in every case;
// the command-line tools tell the user which case it was.
enum class LoadOutcome {
  Thumbnail,    // the stored preview was copied into the image
  Placeholder,  // not a container: the image is the 64 x 64 checkerboard
  NoThumbnail,  // a container without a usable manifest, Thumb, chunk or payload
};

// Reads the container from the stream's current position and leaves the
// stored preview in image. Where the container lacks what it needs, the image
// is left as it came in, or, once the Thumb size is known, cleared to
// transparent black at that size. Throws nothing: a manifest nested deeper than
// kMaxManifestNesting, a manifest number that does not convert, or memory that
// runs out ends the load as NoThumbnail.
LoadOutcome LoadThumbnailImage(ruta::CImage32& image, ByteStream& stream);

}  // namespace kvd
