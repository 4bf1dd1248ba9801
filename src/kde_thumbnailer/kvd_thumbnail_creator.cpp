// KDE's thumbnail plugin for .kvd documents. KIO's thumbnail worker loads it
// for files of our MIME type; it renders through the same pipeline as the
// shell extension and the command-line tool.

#include <KIO/ThumbnailCreator>
#include <KPluginFactory>
#include <QFile>
#include <QImage>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "container_reader/file_stream.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace {

// QImage's ARGB32 stores each pixel as the same native 32-bit word as ruta:
// alpha in the top byte, colours not multiplied by alpha.
static_assert(sizeof(QRgb) == sizeof(ruta::ArgbPixel));

// The square's edge: KDE asks for squares; for any other shape the largest
// square inside it, so that the preview never exceeds the request.
std::uint32_t EdgeFor(const QSize& target) {
  return static_cast<std::uint32_t>(std::max(0, std::min(target.width(), target.height())));
}

bool LiesOnCanvas(const kvd::PreviewRect& rect, const ruta::CImage32& canvas) {
  return rect.x >= 0 && rect.y >= 0 && rect.width > 0 && rect.height > 0 && rect.x <= canvas.width - rect.width &&
         rect.y <= canvas.height - rect.height;
}

// The fitted preview without the square's transparent margins: KDE frames
// previews in their own aspect. A null image when memory runs out.
QImage CutOutPreview(const ruta::CImage32& canvas, const kvd::PreviewRect& preview) {
  if (!LiesOnCanvas(preview, canvas)) return {};
  QImage image(preview.width, preview.height, QImage::Format_ARGB32);
  if (image.isNull()) return image;
  const auto rowBytes = static_cast<std::size_t>(preview.width) * sizeof(ruta::ArgbPixel);
  for (int y = 0; y < preview.height; ++y) {
    std::memcpy(image.scanLine(y), canvas.PixelAt(preview.x, preview.y + y), rowBytes);
  }
  return image;
}

// A document without a usable preview fails, so that KDE keeps showing the
// type's icon: its transparent square would show nothing at all. A file that
// is not a container gets the checkerboard, as everywhere else.
KIO::ThumbnailResult Render(const KIO::ThumbnailRequest& request) {
  // KIO copies a remote file to a local one before asking for its thumbnail.
  const QString path = request.url().toLocalFile();
  if (path.isEmpty()) return KIO::ThumbnailResult::fail();
  kvd::FileStream stream(std::filesystem::path(QFile::encodeName(path).toStdString()));
  if (!stream.IsOpen()) return KIO::ThumbnailResult::fail();
  ruta::CImage32 canvas;
  const kvd::RenderResult result = kvd::RenderThumbnail(&stream, EdgeFor(request.targetSize()), canvas);
  // A file that failed to read gets nothing either, not the checkerboard of
  // a magic that never arrived.
  if (result.status != kvd::RenderStatus::Ok || result.outcome == kvd::LoadOutcome::NoThumbnail ||
      result.outcome == kvd::LoadOutcome::ReadFailed) {
    return KIO::ThumbnailResult::fail();
  }
  const QImage image = CutOutPreview(canvas, result.preview);
  if (image.isNull()) return KIO::ThumbnailResult::fail();
  return KIO::ThumbnailResult::pass(image);
}

class KvdThumbnailCreator final : public KIO::ThumbnailCreator {
 public:
  KvdThumbnailCreator(QObject* parent, const QVariantList& args) : KIO::ThumbnailCreator(parent, args) {}

  KIO::ThumbnailResult create(const KIO::ThumbnailRequest& request) override {
    // The worker has no use for an exception; whatever goes wrong is a failed thumbnail.
    try {
      return Render(request);
    } catch (...) {
      return KIO::ThumbnailResult::fail();
    }
  }
};

}  // namespace

K_PLUGIN_CLASS_WITH_JSON(KvdThumbnailCreator, "kvd_thumbnail_creator.json")

#include "kvd_thumbnail_creator.moc"
