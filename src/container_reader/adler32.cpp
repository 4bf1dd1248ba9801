#include "container_reader/adler32.h"

#include <algorithm>

#include "container_reader/adler32_kernels.h"

namespace kvd {

std::uint32_t ReferenceAdler32(std::uint32_t adler, std::span<const std::uint8_t> bytes) {
  std::uint32_t a = adler & 0xFFFF;
  std::uint32_t b = adler >> 16;
  while (!bytes.empty()) {
    const std::size_t run = std::min(bytes.size(), kAdlerRun);
    for (const std::uint8_t byte : bytes.first(run)) {
      a += byte;
      b += a;
    }
    a %= kAdlerBase;
    b %= kAdlerBase;
    bytes = bytes.subspan(run);
  }
  return (b << 16) | a;
}

std::uint32_t Adler32With(ruta::RowImplementation implementation, std::uint32_t adler,
                          std::span<const std::uint8_t> bytes) {
  switch (implementation) {
#if defined(__x86_64__)
    case ruta::RowImplementation::Sse2: return Sse2Adler32(adler, bytes);
    case ruta::RowImplementation::Avx2:
    case ruta::RowImplementation::Avx512: return Avx2Adler32(adler, bytes);
#endif
    default: return ReferenceAdler32(adler, bytes);
  }
}

std::uint32_t Adler32(std::uint32_t adler, std::span<const std::uint8_t> bytes) {
  return Adler32With(ruta::ActiveImplementation(), adler, bytes);
}

}  // namespace kvd
