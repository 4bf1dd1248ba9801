// Uses KDE's machinery on an installed system the way Dolphin does, with
// nothing in the environment that points at our plugins: they must come from
// the system's plugin folders. Pictures are written in the layout of
// kvd-thumbnail --raw (SIZE x SIZE, bottom row first, blue, green, red,
// alpha), centred as the thumbnailer centres a preview, so that a script can
// compare them with cmp.
//
// usage: kde-probe preview FILE SIZE OUT.raw  KIO's preview job's preview
//        kde-probe square PNG SIZE OUT.raw    a cached thumbnail
//        kde-probe extract FILE               the extractors KFileMetaData
//                                             finds for FILE's type, and
//                                             what they report
// Prints the picture's size, or the extractors' count, width and height.
// Exit status 0: done; 1: nothing found; 2: wrong use.

#include <KFileItem>
#include <KFileMetaData/ExtractorCollection>
#include <KFileMetaData/ExtractionResult>
#include <KIO/PreviewJob>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeDatabase>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <optional>

namespace {

std::optional<QImage> RunPreviewJob(const QString& path, int size) {
  const QStringList plugins = KIO::PreviewJob::availablePlugins();
  auto* job = new KIO::PreviewJob({KFileItem(QUrl::fromLocalFile(path))}, QSize(size, size), &plugins);
  std::optional<QImage> preview;
  QObject::connect(job, &KIO::PreviewJob::gotPreview,
                   [&preview](const KFileItem&, const QPixmap& pixmap) { preview = pixmap.toImage(); });
  QObject::connect(job, &KJob::result, qApp, &QCoreApplication::quit);
  // A worker that dies leaves the job waiting; a test must end.
  QTimer::singleShot(60'000, qApp, [] {
    std::fprintf(stderr, "no answer from KIO's preview job within a minute\n");
    QCoreApplication::exit(1);
  });
  qApp->exec();
  return preview;
}

bool WriteCentredRaw(const QImage& picture, int size, const QString& out) {
  QImage square(size, size, QImage::Format_ARGB32);
  square.fill(Qt::transparent);
  QPainter painter(&square);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(size / 2 - picture.width() / 2, size / 2 - picture.height() / 2,
                    picture.convertToFormat(QImage::Format_ARGB32));
  painter.end();
  QFile file(out);
  if (!file.open(QIODevice::WriteOnly)) return false;
  for (int y = size - 1; y >= 0; --y) {
    const auto rowBytes = static_cast<qint64>(size) * 4;
    if (file.write(reinterpret_cast<const char*>(square.constScanLine(y)), rowBytes) != rowBytes) return false;
  }
  return true;
}

int WritePicture(const std::optional<QImage>& picture, int size, const QString& out) {
  if (!picture || picture->isNull()) return 1;
  std::printf("%d x %d\n", picture->width(), picture->height());
  return WriteCentredRaw(*picture, size, out) ? 0 : 2;
}

// Keeps the width and height, the same way in Frameworks 5 and 6.
class SizeResult final : public KFileMetaData::ExtractionResult {
 public:
  using ExtractionResult::ExtractionResult;
  void add(KFileMetaData::Property::Property property, const QVariant& value) override {
    if (property == KFileMetaData::Property::Width) width = value.toInt();
    if (property == KFileMetaData::Property::Height) height = value.toInt();
  }
  void addType(KFileMetaData::Type::Type) override {}
  void append(const QString&) override {}
  int width = 0;
  int height = 0;
};

int Extract(const QString& path) {
  const QString type = QMimeDatabase().mimeTypeForFile(path).name();
  KFileMetaData::ExtractorCollection collection;
  const QList<KFileMetaData::Extractor*> extractors = collection.fetchExtractors(type);
  SizeResult result(path, type, KFileMetaData::ExtractionResult::ExtractMetaData);
  for (KFileMetaData::Extractor* extractor : extractors) extractor->extract(&result);
  std::printf("%lld extractors; %d x %d\n", static_cast<long long>(extractors.size()), result.width, result.height);
  return extractors.isEmpty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  if (args.size() == 4 && args[0] == QLatin1String("preview")) {
    return WritePicture(RunPreviewJob(args[1], args[2].toInt()), args[2].toInt(), args[3]);
  }
  if (args.size() == 4 && args[0] == QLatin1String("square")) {
    return WritePicture(QImage(args[1]), args[2].toInt(), args[3]);
  }
  if (args.size() == 2 && args[0] == QLatin1String("extract")) return Extract(args[1]);
  std::fputs("usage: kde-probe preview FILE SIZE OUT.raw | square PNG SIZE OUT.raw | extract FILE\n", stderr);
  return 2;
}
