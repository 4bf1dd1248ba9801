#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace kvd {

KVD_COM_CLASSES_BEGIN

// The object the shell asks for a thumbnail: it holds the document's stream
// and hands the rendering to the platform-free pipeline. One reference count
// serves both interfaces; the object counts itself in liveObjects from
// construction to destruction.
class KvdThumbnailProvider final : public IInitializeWithStream, public IThumbnailProvider {
 public:
  // Reference count 1, no stream.
  explicit KvdThumbnailProvider(std::atomic<std::int32_t>& liveObjects);

  KvdThumbnailProvider(const KvdThumbnailProvider&) = delete;
  KvdThumbnailProvider& operator=(const KvdThumbnailProvider&) = delete;

  // IUnknown, the same through both interfaces. IUnknown is answered with
  // the IThumbnailProvider pointer.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // Takes a reference to stream; a provider is initialised once only.
  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD mode) override;

  // A cx x cx, 32-bit, bottom-up bitmap with alpha. Refuses cx = 0 or above
  // kMaxThumbnailEdge with E_INVALIDARG before reading anything, and answers
  // E_OUTOFMEMORY when the canvas or the bitmap cannot be had, and with the
  // stream's own result when a read of it fails; the handle is then null. The
  // alpha type is stored in every case.
  HRESULT STDMETHODCALLTYPE GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override;

 private:
  // Only the last Release destroys the object.
  ~KvdThumbnailProvider();

  HRESULT RenderBitmap(UINT cx, HBITMAP* bitmap);

  std::atomic<std::uint32_t> referenceCount_{1};
  IStream* stream_ = nullptr;
  std::atomic<std::int32_t>& liveObjects_;
};

KVD_COM_CLASSES_END

}  // namespace kvd
