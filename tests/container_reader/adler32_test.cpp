#include "container_reader/adler32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <span>
#include <vector>

namespace kvd {
namespace {

// Never with a null pointer, for which zlib gives its start value.
std::uint32_t ZlibAdler32(std::uint32_t adler, std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(adler32(adler, bytes.data(), static_cast<uInt>(bytes.size())));
}

std::vector<std::uint8_t> RandomBytes(std::size_t count) {
  std::mt19937 random(33);
  std::vector<std::uint8_t> bytes(count);
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

// Every implementation this processor runs gives zlib's value: for every
// length around the vector block and run sizes, from every start (sums just
// below the modulus included), over random bytes and over bytes of 255, which
// drive the sums to the largest values a run may reach.
TEST(Adler32, EveryImplementationGivesZlibsValue) {
  const std::vector<std::uint8_t> noise = RandomBytes(70000);
  const std::vector<std::uint8_t> ones(70000, 0xFF);
  std::vector<std::size_t> lengths;
  for (std::size_t length = 0; length <= 100; ++length) lengths.push_back(length);
  for (std::size_t length : {5519u, 5520u, 5536u, 5551u, 5552u, 5553u, 5568u, 11104u, 11105u, 65536u, 69999u}) {
    lengths.push_back(length);
  }
  for (const ruta::RowImplementation implementation : ruta::SupportedImplementations()) {
    SCOPED_TRACE(ruta::FeatureName(implementation));
    for (const std::uint32_t start : {kAdler32Start, 0xFFF0FFF0u, 0x12345678u}) {
      for (const std::vector<std::uint8_t>* bytes : {&noise, &ones}) {
        for (const std::size_t length : lengths) {
          // From an odd address, so that no vector load is aligned.
          const auto piece = std::span(*bytes).subspan(1, length);
          ASSERT_EQ(Adler32With(implementation, start, piece), ZlibAdler32(start, piece)) << length;
        }
      }
    }
  }
}

}  // namespace
}  // namespace kvd
