#include "load_report_text.h"

#include "container_reader/container_header.h"
#include "container_reader/manifest.h"

namespace kvd {
namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string Size(std::int64_t width, std::int64_t height) {
  return std::to_string(width) + " \u00d7 " + std::to_string(height);
}

std::string DescribeRefusedPayload(const LoadReport& report) {
  const std::string chunk = "chunk " + Quoted(report.bin);
  switch (report.payload) {
    case PayloadResult::Decoded:
      break;
    case PayloadResult::TooLarge:
      return chunk + " is beyond the limit of " + std::to_string(kMaxChunkBytes) + " bytes";
    case PayloadResult::Cut:
      return "the file ends inside the payload of " + chunk;
    case PayloadResult::InflateFailed:
      return chunk + " does not inflate: not a complete zlib stream within its decoded size";
    case PayloadResult::UnknownCompression:
      return chunk + " has the unknown compression " + std::to_string(report.compression);
  }
  return chunk + " did not decode";
}

std::string DescribeTooLarge(const LoadReport& report) {
  const std::string size = "Thumb size " + Size(report.thumbWidth, report.thumbHeight);
  if (report.thumbWidth > kMaxThumbSide || report.thumbHeight > kMaxThumbSide) {
    return size + " is beyond the limit of " + std::to_string(kMaxThumbSide);
  }
  return size + " is beyond the limit of " + std::to_string(kMaxThumbPixels) + " pixels";
}

}  // namespace

std::string DescribeLoad(const LoadReport& report) {
  switch (report.reason) {
    case LoadReason::WholePreview:
      return "stored preview of " + Size(report.thumbWidth, report.thumbHeight) + " from chunk " + Quoted(report.bin);
    case LoadReason::PartialPreview:
      return "payload holds " + std::to_string(report.payloadBytes) + " of the " + std::to_string(report.pictureBytes) +
             " bytes of a " + Size(report.thumbWidth, report.thumbHeight) + " preview; the rest is transparent";
    case LoadReason::NotContainer:
      return "not a .kvd container (it does not begin with \"voxpack\" and a NUL byte): shown as the checkerboard";
    case LoadReason::HeaderCut:
      return "the file ends inside the container header";
    case LoadReason::ManifestTooLong:
      return "manifest length " + std::to_string(report.manifestLength) + " is beyond the limit of " +
             std::to_string(kMaxManifestBytes) + " bytes";
    case LoadReason::ManifestCut:
      return "the file ends after " + std::to_string(report.manifestDelivered) + " of the " +
             std::to_string(report.manifestLength) + " manifest bytes";
    case LoadReason::ManifestTooDeep:
      return "manifest nested too deeply (more than " + std::to_string(kMaxManifestNesting) + " levels)";
    case LoadReason::NoRoot:
      return "no Dodiru element";
    case LoadReason::BadRootNumber:
      return "Dodiru " + report.badAttribute + " \"" + report.badValue + "\" is not a whole number";
    case LoadReason::NoThumb:
      return "no Thumb element";
    case LoadReason::BadThumbNumber:
      return "Thumb " + report.badAttribute + " \"" + report.badValue + "\" is not a whole number";
    case LoadReason::ThumbTooLarge:
      return DescribeTooLarge(report);
    case LoadReason::ThumbWithoutPixels:
      return "Thumb size " + Size(report.thumbWidth, report.thumbHeight) + " has no pixels";
    case LoadReason::ChunkNotFound:
      return "chunk " + Quoted(report.bin) + " not found";
    case LoadReason::ChunkRefused:
      return DescribeRefusedPayload(report);
    case LoadReason::PayloadEmpty:
      return "chunk " + Quoted(report.bin) + " decodes to no bytes";
    case LoadReason::OutOfMemory:
      return "out of memory";
    case LoadReason::ReadFailed:
      return "reading the file failed";
  }
  return "unknown";
}

const char* PayloadResultKey(PayloadResult result) {
  switch (result) {
    case PayloadResult::Decoded: return "";
    case PayloadResult::TooLarge: return "chunk-too-large";
    case PayloadResult::Cut: return "payload-cut";
    case PayloadResult::InflateFailed: return "inflate-failed";
    case PayloadResult::UnknownCompression: return "unknown-compression";
  }
  return "unknown";
}

const char* LoadReasonKey(const LoadReport& report) {
  switch (report.reason) {
    case LoadReason::WholePreview: return "preview";
    case LoadReason::PartialPreview: return "partial-preview";
    case LoadReason::NotContainer: return "not-a-container";
    case LoadReason::HeaderCut: return "header-cut";
    case LoadReason::ManifestTooLong: return "manifest-too-long";
    case LoadReason::ManifestCut: return "manifest-cut";
    case LoadReason::ManifestTooDeep: return "manifest-too-deep";
    case LoadReason::NoRoot: return "no-root";
    case LoadReason::BadRootNumber: return "bad-root-number";
    case LoadReason::NoThumb: return "no-thumb";
    case LoadReason::BadThumbNumber: return "bad-thumb-number";
    case LoadReason::ThumbTooLarge: return "thumb-too-large";
    case LoadReason::ThumbWithoutPixels: return "thumb-without-pixels";
    case LoadReason::ChunkNotFound: return "chunk-not-found";
    case LoadReason::ChunkRefused: return PayloadResultKey(report.payload);
    case LoadReason::PayloadEmpty: return "payload-empty";
    case LoadReason::OutOfMemory: return "out-of-memory";
    case LoadReason::ReadFailed: return "read-failed";
  }
  return "unknown";
}

const char* LoadOutcomeKey(LoadOutcome outcome) {
  switch (outcome) {
    case LoadOutcome::Thumbnail: return "thumbnail";
    case LoadOutcome::Placeholder: return "placeholder";
    case LoadOutcome::NoThumbnail: return "no-thumbnail";
    case LoadOutcome::ReadFailed: return "read-failed";
  }
  return "unknown";
}

}  // namespace kvd
