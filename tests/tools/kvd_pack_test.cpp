#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/container_builder.h"

namespace kvd {
namespace {

using testing::Bytes;
namespace fs = std::filesystem;

void PutBigEndian32(Bytes& out, std::uint32_t word) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(word >> shift));
}

void PutPngChunk(Bytes& png, const std::string& type, const Bytes& data) {
  PutBigEndian32(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeAt = png.size();
  png.insert(png.end(), type.begin(), type.end());
  png.insert(png.end(), data.begin(), data.end());
  const uLong crc = crc32(0, png.data() + typeAt, static_cast<uInt>(png.size() - typeAt));
  PutBigEndian32(png, static_cast<std::uint32_t>(crc));
}

// A PNG whose header declares width x height RGBA pixels and whose data hold
// only the first rows: a few dozen bytes may declare gigabytes.
Bytes PngDeclaring(std::uint32_t width, std::uint32_t height, std::uint32_t rowsHeld) {
  Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  PutBigEndian32(header, width);
  PutBigEndian32(header, height);
  header.insert(header.end(), {8, 6, 0, 0, 0});
  PutPngChunk(png, "IHDR", header);
  const Bytes row((1 + std::size_t{width} * 4) * rowsHeld, 0);
  uLongf size = compressBound(static_cast<uLong>(row.size()));
  Bytes data(size);
  compress2(data.data(), &size, row.data(), static_cast<uLong>(row.size()), Z_BEST_COMPRESSION);
  data.resize(size);
  PutPngChunk(png, "IDAT", data);
  PutPngChunk(png, "IEND", {});
  return png;
}

struct Refusal {
  const char* what;
  Bytes png;
  std::string options;
  const char* message;
};

// Each is refused with a reason and leaves no document behind: a picture
// beyond the reader's limits, refused by its declared size before its pixels
// cost anything, and a chunk name the manifest cannot carry back.
TEST(KvdPack, RefusesAPreviewTheReaderWouldNotShow) {
  const Refusal refusals[] = {
      {"declared 20000 x 20000", PngDeclaring(20000, 20000, 1), "", "beyond the limit of 32767 a side"},
      {"chunk name in Latin-1", PngDeclaring(2, 2, 2), "--chunk 'caf\xe9'", "not valid UTF-8"},
  };
  const fs::path folder = fs::temp_directory_path() / ("kvd_pack_test_" + std::to_string(getpid()));
  fs::create_directories(folder);
  const fs::path png = folder / "preview.png";
  const fs::path document = folder / "document.kvd";
  const fs::path errors = folder / "stderr.txt";
  for (const Refusal& refusal : refusals) {
    std::ofstream(png, std::ios::binary)
        .write(reinterpret_cast<const char*>(refusal.png.data()), static_cast<std::streamsize>(refusal.png.size()));
    const std::string command = std::string(KVD_PACK_PATH) + " " + refusal.options + " " + png.string() + " " +
                                document.string() + " 2>" + errors.string();
    const int status = std::system(command.c_str());
    std::ifstream in(errors);
    const std::string message(std::istreambuf_iterator<char>(in), {});
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << refusal.what;
    EXPECT_NE(message.find(refusal.message), std::string::npos) << refusal.what << ": " << message;
    EXPECT_FALSE(fs::exists(document)) << refusal.what;
  }
  fs::remove_all(folder);
  // The largest resident size of any program run so far in this process.
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  EXPECT_LT(children.ru_maxrss, 256 * 1024) << "KiB";
}

}  // namespace
}  // namespace kvd
