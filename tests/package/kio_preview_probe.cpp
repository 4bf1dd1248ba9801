// Asks KIO's preview job, as Dolphin does, for the preview of one file, with
// nothing in the environment that points at our plugin: it must come from
// the system's plugin folder. Prints the preview's size.
//
// usage: kio-preview-probe FILE SIZE   (exit 0: a preview; 1: none)

#include <KIO/PreviewJob>
#include <QGuiApplication>
#include <QPixmap>
#include <QTimer>
#include <QUrl>
#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: kio-preview-probe FILE SIZE\n");
    return 2;
  }
  const int size = QString::fromLocal8Bit(argv[2]).toInt();
  const QStringList plugins = KIO::PreviewJob::availablePlugins();
  auto* job = new KIO::PreviewJob({KFileItem(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])))},
                                  QSize(size, size), &plugins);
  int status = 1;
  QObject::connect(job, &KIO::PreviewJob::gotPreview, [&status](const KFileItem&, const QPixmap& preview) {
    std::printf("%d x %d\n", preview.width(), preview.height());
    status = 0;
  });
  QObject::connect(job, &KJob::result, &app, &QCoreApplication::quit);
  // A worker that dies leaves the job waiting; a test must end.
  QTimer::singleShot(60'000, &app, [] {
    std::fprintf(stderr, "no answer from KIO's preview job within a minute\n");
    QCoreApplication::exit(1);
  });
  app.exec();
  return status;
}
