// KDE's metadata extractor for .kvd documents: the canvas size as Width and
// Height, which Dolphin's Information panel shows and file search indexes.
// It reads through the container reader's canvas-size reading, which stops
// behind the manifest, so that no chunk is read however large the document.

#include <KFileMetaData/ExtractionResult>
#include <KFileMetaData/ExtractorPlugin>
#include <KFileMetaData/Properties>
#include <QFile>

#include <optional>

#include "container_reader/canvas_size.h"
#include "container_reader/file_stream.h"

namespace kvd {

class KvdMetadataExtractor final : public KFileMetaData::ExtractorPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.kde.kf5.kfilemetadata.ExtractorPlugin" FILE "kvd_metadata_extractor.json")
  Q_INTERFACES(KFileMetaData::ExtractorPlugin)

 public:
  explicit KvdMetadataExtractor(QObject* parent = nullptr) : ExtractorPlugin(parent) {}

  QStringList mimetypes() const override { return {QStringLiteral("application/x-kvd")}; }

  // Nothing for a document without a canvas size: a size is never made up.
  void extract(KFileMetaData::ExtractionResult* result) override {
    if (!result->inputFlags().testFlag(KFileMetaData::ExtractionResult::ExtractMetaData)) return;
    FileStream stream(QFile::encodeName(result->inputUrl()).toStdString());
    const std::optional<CanvasSize> canvas = ReadCanvasSize(stream);
    if (!canvas) return;
    // Both sides are whole numbers of at least 1 that came from an int.
    result->add(KFileMetaData::Property::Width, static_cast<int>(canvas->width));
    result->add(KFileMetaData::Property::Height, static_cast<int>(canvas->height));
  }
};

}  // namespace kvd

#include "kvd_metadata_extractor.moc"
