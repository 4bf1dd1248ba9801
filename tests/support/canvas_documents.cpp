#include "support/canvas_documents.h"

namespace kvd::testing {
namespace {

ChunkRecord UninflatableChunk() {
  ChunkRecord record = StoredChunk("thumb", Bytes(64, 0xA5));
  record.compression = 1;
  record.decodedSize = 0x0FFFFFFF;
  return record;
}

Bytes WithRoot(const std::string& rootAttributes, const std::string& name = "Dodiru") {
  return ContainerBuilder()
      .Manifest("<" + name + " " + rootAttributes + "><Thumb width=\"4\" height=\"4\" bin=\"thumb\"/></" + name + ">")
      .Chunk(UninflatableChunk())
      .Build();
}

}  // namespace

std::vector<CanvasDocument> CanvasDocuments() {
  return {
      {"canvas-normal", WithRoot(R"(width="1920" height="1080")"), CanvasSize{1920, 1080}},
      {"canvas-largest", WithRoot(R"(width="2147483647" height="1")"), CanvasSize{2147483647, 1}},
      {"canvas-without-preview", ContainerBuilder().Manifest(R"(<Dodiru width="640" height="480"/>)").Build(),
       CanvasSize{640, 480}},
      {"canvas-missing", WithRoot(""), std::nullopt},
      {"canvas-height-missing", WithRoot(R"(width="640")"), std::nullopt},
      {"canvas-not-numbers", WithRoot(R"(width="640px" height="480")"), std::nullopt},
      {"canvas-negative", WithRoot(R"(width="-640" height="480")"), std::nullopt},
      {"canvas-zero", WithRoot(R"(width="640" height="0")"), std::nullopt},
      {"canvas-huge", WithRoot(R"(width="99999999999" height="480")"), std::nullopt},
      {"canvas-no-dodiru", WithRoot(R"(width="640" height="480")", "dodiru"), std::nullopt},
      {"canvas-manifest-cut",
       ContainerBuilder().Manifest(R"(<Dodiru width="640" height="480"/>)").ManifestLength(0xFFFFFFF0).Build(),
       std::nullopt},
      {"canvas-not-a-container", Bytes{'P', 'K', 3, 4, 'n', 'o', 't', ' ', 'k', 'v', 'd'}, std::nullopt},
  };
}

}  // namespace kvd::testing
