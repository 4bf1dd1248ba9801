// Runs KFileMetaData's ExtractorCollection, as Dolphin's Information panel and
// the file indexer do, on documents of our type: the extractor is loaded from
// the build, the type of each file comes from the MIME database, and
// everything runs in a private home.

#include <gtest/gtest.h>

#include <KFileMetaData/ExtractorCollection>
#include <KFileMetaData/SimpleExtractionResult>
#include <QCoreApplication>
#include <QFile>
#include <QMimeDatabase>


#include "container_reader/container_format.h"
#include "support/canvas_documents.h"
#include "private_session.h"
#include "support/container_builder.h"

namespace {

using kvd::testing::Bytes;
using kvd::testing::SessionPath;
using KFileMetaData::Property::Property;

constexpr char kKvdType[] = "application/x-kvd";

QString WriteDocument(const std::string& name, const Bytes& bytes) {
  const QString path = SessionPath(QString::fromStdString(name) + QStringLiteral(".kvd"));
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {};
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  return path;
}

// What the extractors for the file's type report, as Dolphin asks for it.
QMultiMap<Property, QVariant> Extract(const QString& path) {
  const QString type = QMimeDatabase().mimeTypeForFile(path).name();
  KFileMetaData::ExtractorCollection collection;
  KFileMetaData::SimpleExtractionResult result(path, type, KFileMetaData::ExtractionResult::ExtractMetaData);
  for (KFileMetaData::Extractor* extractor : collection.fetchExtractors(type)) extractor->extract(&result);
  return result.properties(KFileMetaData::PropertiesMapType::MultiMap);
}

TEST(KvdMetadataExtractor, IsTheExtractorForOurType) {
  const QString path = WriteDocument("typed", kvd::testing::CanvasDocuments().front().bytes);
  EXPECT_EQ(QMimeDatabase().mimeTypeForFile(path).name(), QString::fromLatin1(kKvdType));
  KFileMetaData::ExtractorCollection collection;
  const QList<KFileMetaData::Extractor*> extractors = collection.fetchExtractors(QString::fromLatin1(kKvdType));
  ASSERT_EQ(extractors.size(), 1);
  EXPECT_TRUE(extractors.front()->mimetypes().contains(QString::fromLatin1(kKvdType)));
}

TEST(KvdMetadataExtractor, ReportsExactlyTheCanvasSizeOrNothing) {
  for (const kvd::testing::CanvasDocument& document : kvd::testing::CanvasDocuments()) {
    QMultiMap<Property, QVariant> expected;
    if (document.canvas) {
      expected.insert(KFileMetaData::Property::Width, static_cast<int>(document.canvas->width));
      expected.insert(KFileMetaData::Property::Height, static_cast<int>(document.canvas->height));
    }
    EXPECT_EQ(Extract(WriteDocument(document.name, document.bytes)), expected) << document.name;
  }
}

// Cut anywhere before its manifest ends, nested beyond the parser's limit, or
// empty: nothing, and no crash.
TEST(KvdMetadataExtractor, HostileDocumentsYieldNothing) {
  const Bytes whole = kvd::testing::CanvasDocuments().front().bytes;
  const std::size_t manifestEnd = kvd::kContainerHeaderSize + kvd::ReadLittleEndian32(whole.data() + 12);
  for (std::size_t length = 0; length < manifestEnd; ++length) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_TRUE(Extract(WriteDocument("cut", cut)).isEmpty()) << length;
  }
  const Bytes nested =
      kvd::testing::ContainerBuilder().Manifest(kvd::testing::ManifestNestedTo(100000)).Build();
  EXPECT_TRUE(Extract(WriteDocument("nested", nested)).isEmpty());
}

}  // namespace

int main(int argc, char** argv) {
  return kvd::testing::RunTestsInPrivateSession<QCoreApplication>(argc, argv, KVD_PLUGIN_PATH, KVD_MIME_PACKAGE);
}
