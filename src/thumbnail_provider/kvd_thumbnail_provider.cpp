#include "thumbnail_provider/kvd_thumbnail_provider.h"

#include <cstddef>
#include <optional>
#include <span>

#include "raster/image.h"
#include "thumbnail_provider/bitmap_header.h"
#include "shell_module/istream_byte_stream.h"
#include "thumbnail_provider/thumbnail_pipeline.h"

namespace kvd {
namespace {

BITMAPINFO PlatformBitmapInfo(const BitmapHeader& header) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = header.biSize;
  info.bmiHeader.biWidth = header.biWidth;
  info.bmiHeader.biHeight = header.biHeight;
  info.bmiHeader.biPlanes = header.biPlanes;
  info.bmiHeader.biBitCount = header.biBitCount;
  info.bmiHeader.biCompression = header.biCompression;
  info.bmiHeader.biSizeImage = header.biSizeImage;
  info.bmiHeader.biXPelsPerMeter = header.biXPelsPerMeter;
  info.bmiHeader.biYPelsPerMeter = header.biYPelsPerMeter;
  info.bmiHeader.biClrUsed = header.biClrUsed;
  info.bmiHeader.biClrImportant = header.biClrImportant;
  return info;
}

}  // namespace

KvdThumbnailProvider::KvdThumbnailProvider(std::atomic<std::int32_t>& liveObjects) : liveObjects_(liveObjects) {
  ++liveObjects_;
}

KvdThumbnailProvider::~KvdThumbnailProvider() {
  if (stream_ != nullptr) stream_->Release();
  --liveObjects_;
}

HRESULT KvdThumbnailProvider::QueryInterface(REFIID riid, void** ppv) {
  const QITAB table[] = {
      InterfaceEntry<IThumbnailProvider>(kThumbnailProviderIid, *this),
      InterfaceEntry<IInitializeWithStream>(IID_IInitializeWithStream, *this),
      kEndOfInterfaceTable,
  };
  return QISearch(this, table, riid, ppv);
}

ULONG KvdThumbnailProvider::AddRef() { return ++referenceCount_; }

ULONG KvdThumbnailProvider::Release() {
  const ULONG remaining = --referenceCount_;
  if (remaining == 0) delete this;
  return remaining;
}

HRESULT KvdThumbnailProvider::Initialize(IStream* stream, DWORD) {
  if (stream_ != nullptr) return HResultFromWin32(ERROR_ALREADY_INITIALIZED);
  void* queried = nullptr;
  const HRESULT result = stream->QueryInterface(IID_IStream, &queried);
  // Only a successful query hands over a reference; whatever a failing one
  // left in its out-location is not ours.
  if (!Failed(result)) stream_ = static_cast<IStream*>(queried);
  return result;
}

HRESULT KvdThumbnailProvider::GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) {
  if (bitmap == nullptr || alpha == nullptr) return E_POINTER;
  *bitmap = nullptr;
  *alpha = WTSAT_ARGB;
  return WithoutThrowing([&] { return RenderBitmap(cx, bitmap); });
}

HRESULT KvdThumbnailProvider::RenderBitmap(UINT cx, HBITMAP* bitmap) {
  std::optional<IStreamByteStream> document;
  if (stream_ != nullptr) document.emplace(*stream_);
  ruta::CImage32 canvas;
  const RenderResult rendered = RenderThumbnail(document ? &*document : nullptr, cx, canvas);
  if (rendered.status == RenderStatus::InvalidSize) return E_INVALIDARG;
  if (rendered.status == RenderStatus::OutOfMemory) return E_OUTOFMEMORY;
  // No bitmap: the shell keeps no picture and asks again once the file can be read.
  if (rendered.outcome == LoadOutcome::ReadFailed) return document->ReadFailure();

  const BITMAPINFO info = PlatformBitmapInfo(ThumbnailBitmapHeader(cx));
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (section == nullptr) return E_OUTOFMEMORY;
  const std::size_t byteCount = std::size_t{cx} * cx * sizeof(ruta::ArgbPixel);
  CopyCanvasBottomUp(canvas, std::span(static_cast<std::uint8_t*>(bits), byteCount));
  *bitmap = section;
  return S_OK;
}

}  // namespace kvd
