// The container reader on arbitrary bytes: whatever the file, the load ends
// in one of the three outcomes of a readable file, with an image that matches it.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "container_reader/container_format.h"
#include "container_reader/memory_stream.h"
#include "container_reader/thumbnail_loader.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvd::MemoryStream stream(std::vector<std::uint8_t>(data, data + size));
  ruta::CImage32 image;
  const kvd::LoadOutcome outcome = kvd::LoadThumbnailImage(image, stream);
  switch (outcome) {
    case kvd::LoadOutcome::Placeholder:
      KVD_FUZZ_CHECK(image.width == 64 && image.height == 64 && image.pixels != nullptr);
      break;
    case kvd::LoadOutcome::Thumbnail:
      KVD_FUZZ_CHECK(image.pixels != nullptr && image.width >= 1 && image.height >= 1);
      break;
    case kvd::LoadOutcome::NoThumbnail:
      // Every pixel the image holds is transparent black: nothing was copied.
      for (std::int64_t i = 0; i < ruta::PixelCount(image); ++i) KVD_FUZZ_CHECK(image.pixels[i] == 0);
      break;
    case kvd::LoadOutcome::ReadFailed:
      KVD_FUZZ_CHECK(false);  // memory never fails to read
      break;
  }
  // Only a stream that begins with the magic is read as a container.
  const bool hasMagic = size >= kvd::kContainerMagic.size() &&
                        std::equal(kvd::kContainerMagic.begin(), kvd::kContainerMagic.end(), data);
  KVD_FUZZ_CHECK((outcome == kvd::LoadOutcome::Placeholder) != hasMagic);
  return 0;
}
