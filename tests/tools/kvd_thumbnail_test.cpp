#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "container_reader/memory_stream.h"
#include "support/container_builder.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace kvd {
namespace {

using testing::Bytes;
namespace fs = std::filesystem;

class KvdThumbnailTool : public ::testing::Test {
 protected:
  void SetUp() override {
    // The process id keeps suites of several build folders, run at once, apart.
    folder_ = fs::temp_directory_path() /
              ("kvd_thumbnail_tool_" + std::to_string(getpid()) + "_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path Write(const std::string& name, const Bytes& bytes) {
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  // Runs the tool; returns its exit code and keeps its stderr in errors.
  int Run(const std::string& arguments) {
    const fs::path errorFile = folder_ / "stderr.txt";
    const std::string command = std::string(KVD_THUMBNAIL_PATH) + " " + arguments + " 2>" + errorFile.string();
    const int status = std::system(command.c_str());
    std::ifstream in(errorFile);
    errors.assign(std::istreambuf_iterator<char>(in), {});
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static Bytes Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  fs::path folder_;
  std::string errors;
};

Bytes Expected(const Bytes& document, std::uint32_t size) {
  MemoryStream stream(document);
  return RenderThumbnailBitmap(&stream, size).bits;
}

TEST_F(KvdThumbnailTool, RawOutputIsExactlyTheBitmapMemory) {
  const Bytes document = testing::ThumbnailDocument(40, 25, testing::GradientPixels(40, 25), true);
  const fs::path input = Write("doc.kvd", document);
  ASSERT_EQ(Run("--raw -s 57 " + input.string() + " " + (folder_ / "out.raw").string()), 0) << errors;
  EXPECT_EQ(Read(folder_ / "out.raw"), Expected(document, 57));
  EXPECT_EQ(errors, "");
}

TEST_F(KvdThumbnailTool, PngOutputHoldsTheSamePixelsTopRowFirst) {
  const Bytes document = testing::ThumbnailDocument(9, 13, testing::GradientPixels(9, 13));
  const fs::path input = Write("doc.kvd", document);
  const fs::path output = folder_ / "out.png";
  ASSERT_EQ(Run("--size 20 " + input.string() + " " + output.string()), 0) << errors;

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_file(&image, output.c_str()), 0);
  image.format = PNG_FORMAT_BGRA;
  Bytes topDown(PNG_IMAGE_SIZE(image));
  // A negative stride reads the picture bottom row first, as the bitmap holds it.
  ASSERT_NE(png_image_finish_read(&image, nullptr, topDown.data(), -static_cast<png_int_32>(20 * 4), nullptr), 0);
  EXPECT_EQ(image.width, 20u);
  EXPECT_EQ(topDown, Expected(document, 20));
}

TEST_F(KvdThumbnailTool, SaysWhenItDrewNoStoredPreview) {
  const fs::path notContainer = Write("plain.txt", Bytes(50, 'a'));
  EXPECT_EQ(Run("--raw " + notContainer.string() + " " + (folder_ / "a.raw").string()), 0);
  EXPECT_NE(errors.find("not a .kvd container"), std::string::npos) << errors;
  EXPECT_EQ(Read(folder_ / "a.raw").size(), 256u * 256 * 4);

  const fs::path empty = Write("empty.kvd", testing::ContainerBuilder().Manifest("<Dodiru/>").Build());
  EXPECT_EQ(Run("--raw " + empty.string() + " " + (folder_ / "b.raw").string()), 0);
  EXPECT_NE(errors.find("no usable thumbnail"), std::string::npos) << errors;
  EXPECT_EQ(Read(folder_ / "b.raw"), Bytes(256u * 256 * 4, 0));
}

// Missing, a folder, a name too long to open, and a file whose read fails
// with EIO (the tool's own memory file, at its unmapped first page).
TEST_F(KvdThumbnailTool, AnInputThatCannotBeReadGetsNoOutputAndItsOwnStatus) {
  const fs::path output = folder_ / "x.png";
  for (const fs::path& input :
       {folder_ / "missing.kvd", folder_, folder_ / std::string(300, 'n'), fs::path("/proc/self/mem")}) {
    EXPECT_EQ(Run(input.string() + " " + output.string()), 3) << input;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_NE(errors.find("cannot read " + input.string()), std::string::npos) << errors;
    EXPECT_FALSE(fs::exists(output)) << input;
  }
  EXPECT_NE(errors.find("Input/output error"), std::string::npos) << errors;

  const fs::path document = Write("doc.kvd", testing::ThumbnailDocument(9, 13, testing::GradientPixels(9, 13)));
  const std::string pattern = (folder_ / "out" / "%s.raw").string();
  EXPECT_EQ(Run("--raw -o '" + pattern + "' /proc/self/mem " + document.string()), 3) << errors;
  EXPECT_FALSE(fs::exists(folder_ / "out" / "mem.raw"));
  EXPECT_TRUE(fs::exists(folder_ / "out" / "doc.raw"));
}

TEST_F(KvdThumbnailTool, RefusesBadArgumentsAsAUsageMistake) {
  EXPECT_EQ(Run("-s 0 a b"), 2);
  EXPECT_EQ(Run("-s " + std::to_string(kMaxThumbnailEdge + 1) + " a b"), 2);
  EXPECT_EQ(Run("-s 12x a b"), 2);
  EXPECT_EQ(Run("onlyone"), 2);
  EXPECT_EQ(Run("--bogus a b"), 2);
}

TEST_F(KvdThumbnailTool, BatchRendersEveryInputAndNamesEachFailureOnce) {
  const Bytes landscape = testing::ThumbnailDocument(40, 25, testing::GradientPixels(40, 25), true);
  const Bytes portrait = testing::ThumbnailDocument(9, 13, testing::GradientPixels(9, 13));
  const fs::path first = Write("landscape.kvd", landscape);
  const fs::path second = Write("portrait.kvd", portrait);
  const fs::path plain = Write("plain.txt", Bytes(50, 'a'));
  fs::create_directories(folder_ / "again");
  const fs::path sameName = Write("again/landscape.kvd", portrait);
  const std::string pattern = (folder_ / "out" / "%s.raw").string();

  // An unreadable input beside another failure: the other failure's status.
  EXPECT_EQ(Run("--raw -s 33 -o '" + pattern + "' " + first.string() + " " + (folder_ / "missing.kvd").string() + " " +
                second.string() + " " + plain.string() + " " + sameName.string()),
            1);
  EXPECT_EQ(Read(folder_ / "out" / "landscape.raw"), Expected(landscape, 33));
  EXPECT_EQ(Read(folder_ / "out" / "portrait.raw"), Expected(portrait, 33));
  EXPECT_EQ(Read(folder_ / "out" / "plain.raw").size(), 33u * 33 * 4);
  // Two failures (the missing file, the second landscape) and the note on plain.txt.
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 3) << errors;
  EXPECT_NE(errors.find("missing.kvd"), std::string::npos) << errors;
  EXPECT_NE(errors.find("again/landscape.kvd"), std::string::npos) << errors;

  EXPECT_EQ(Run("-o '" + pattern + "' " + first.string() + " " + second.string()), 0) << errors;
  EXPECT_EQ(Run("-o " + (folder_ / "fixed.png").string() + " " + first.string() + " " + second.string()), 2);
}

}  // namespace
}  // namespace kvd
