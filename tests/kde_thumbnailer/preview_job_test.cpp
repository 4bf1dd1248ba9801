// Runs KIO::PreviewJob, as Dolphin does, on documents of our type. The job
// starts KIO's thumbnail worker in a process of its own, which loads the plugin
// from the build. Everything runs in a private home, without a display or a
// desktop session.

#include <gtest/gtest.h>

#include <KFileItem>
#include <KIO/PreviewJob>
#include <KPluginMetaData>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include <algorithm>
#include <optional>
#include <ostream>

#include "container_reader/file_stream.h"
#include "private_session.h"
#include "support/container_builder.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

void PrintTo(const QSize& size, std::ostream* out) { *out << size.width() << " x " << size.height(); }

namespace {

using kvd::testing::Bytes;
using kvd::testing::SessionPath;

bool WriteFile(const QString& path, const Bytes& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const auto size = static_cast<qint64>(bytes.size());
  return file.write(reinterpret_cast<const char*>(bytes.data()), size) == size;
}

// A landscape preview with a transparent frame, which must survive: KDE gets
// the whole fitted preview, not its opaque part.
Bytes SampleDocument() {
  constexpr int kWidth = 160, kHeight = 100;
  std::vector<std::uint32_t> pixels = kvd::testing::GradientPixels(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      if (x < 8 || y < 8 || x >= kWidth - 8 || y >= kHeight - 8) pixels[static_cast<std::size_t>(y * kWidth + x)] = 0;
    }
  }
  using namespace kvd::testing;
  return ContainerBuilder()
      .Manifest(ThumbManifest(kWidth, kHeight, "thumb"))
      .Chunk(ZlibChunk("layer0", Bytes(4096, 0x7F)))
      .Chunk(ZlibChunk("thumb", PixelBytes(pixels)))
      .Build();
}

// What the plugin must deliver: the native render cut down to where the
// pipeline placed the preview.
QImage NativeRender(const QString& path, int size) {
  kvd::FileStream stream(QFile::encodeName(path).toStdString());
  ruta::CImage32 canvas;
  const kvd::RenderResult result = kvd::RenderThumbnail(&stream, static_cast<std::uint32_t>(size), canvas);
  if (result.status != kvd::RenderStatus::Ok) return {};
  const QImage square(reinterpret_cast<const uchar*>(canvas.PixelAt(0, 0)), canvas.width, canvas.height,
                      QImage::Format_ARGB32);
  const kvd::PreviewRect& preview = result.preview;
  return square.copy(preview.x, preview.y, preview.width, preview.height);
}

struct Preview {
  bool failed = false;
  std::optional<QImage> image;
};

Preview RunPreviewJob(const QString& path, int size) {
  // Our plugin is not among KDE's defaults; Dolphin enables it in its settings.
  const QStringList plugins = KIO::PreviewJob::availablePlugins();
  auto* job = new KIO::PreviewJob({KFileItem(QUrl::fromLocalFile(path))}, QSize(size, size), &plugins);
  Preview preview;
  QObject::connect(job, &KIO::PreviewJob::gotPreview,
                   [&preview](const KFileItem&, const QPixmap& pixmap) { preview.image = pixmap.toImage(); });
  QObject::connect(job, &KIO::PreviewJob::failed, [&preview](const KFileItem&) { preview.failed = true; });
  job->exec();
  return preview;
}

// Pixel by pixel, in the premultiplied form in which Qt keeps a pixmap.
QImage Premultiplied(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32_Premultiplied); }

class PreviewJobTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const Bytes sample = SampleDocument();
    ASSERT_TRUE(WriteFile(SessionPath("sample.kvd"), sample));
    ASSERT_TRUE(WriteFile(SessionPath("sample-without-extension"), sample));
    ASSERT_TRUE(WriteFile(SessionPath("not-a-container.kvd"), Bytes(300, 'x')));
    ASSERT_TRUE(WriteFile(SessionPath("no-preview.kvd"), kvd::testing::ContainerBuilder().Manifest("<Dodiru/>").Build()));
  }
};

TEST_F(PreviewJobTest, DeliversTheFittedPreviewAsTheNativeRenderDrawsIt) {
  struct Case {
    const char* file;
    int size;
    QSize fitted;
  };
  const Case cases[] = {
      {"sample.kvd", 128, {128, 80}},
      {"sample.kvd", 256, {256, 160}},
      {"sample-without-extension", 128, {128, 80}},
      {"sample-without-extension", 256, {256, 160}},
      {"not-a-container.kvd", 128, {128, 128}},  // the checkerboard fills the square
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.file << " at " << c.size);
    const QString path = SessionPath(c.file);
    const Preview preview = RunPreviewJob(path, c.size);
    ASSERT_TRUE(preview.image.has_value());
    EXPECT_FALSE(preview.failed);
    const QImage expected = NativeRender(path, c.size);
    ASSERT_EQ(expected.size(), c.fitted);
    ASSERT_EQ(preview.image->size(), c.fitted);
    EXPECT_TRUE(Premultiplied(*preview.image) == Premultiplied(expected));
  }
  // Dolphin shows cached previews without asking the plugin again.
  for (const char* cache : {"xdg_cache_home/thumbnails/normal", "xdg_cache_home/thumbnails/large"}) {
    EXPECT_FALSE(QDir(SessionPath(cache)).isEmpty()) << cache;
  }
}

// Dolphin's preview settings list the plugins by these names and types.
TEST_F(PreviewJobTest, IsListedAmongTheThumbnailersForOurType) {
  const QVector<KPluginMetaData> plugins = KIO::PreviewJob::availableThumbnailerPlugins();
  const auto ours = std::find_if(plugins.begin(), plugins.end(),
                                 [](const KPluginMetaData& plugin) { return plugin.pluginId() == "kvdthumbnail"; });
  ASSERT_NE(ours, plugins.end());
  EXPECT_EQ(ours->name(), QStringLiteral("KVD painting documents"));
  EXPECT_EQ(ours->mimeTypes(), QStringList{QStringLiteral("application/x-kvd")});
}

TEST_F(PreviewJobTest, ADocumentWithoutAPreviewKeepsItsIcon) {
  const Preview preview = RunPreviewJob(SessionPath("no-preview.kvd"), 128);
  EXPECT_TRUE(preview.failed);
  EXPECT_FALSE(preview.image.has_value());
}

}  // namespace

int main(int argc, char** argv) {
  return kvd::testing::RunTestsInPrivateSession<QGuiApplication>(argc, argv, KVD_PLUGIN_PATH, KVD_MIME_PACKAGE);
}
