#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "container_reader/canvas_size.h"
#include "platform/platform.h"
#include <propsys.h>

namespace kvd {

// The property handler class, {409F04F5-3E97-49DB-A950-331015BAC6EE}.
// Registered installations know the class by it: it never changes.
extern const CLSID CLSID_KvdPropertyHandler;

// The image properties the handler serves, from their documented format ID
// and property ID: mingw-w64's headers do not define them.
extern const PROPERTYKEY kImageHorizontalSize;  // System.Image.HorizontalSize, VT_UI4
extern const PROPERTYKEY kImageVerticalSize;    // System.Image.VerticalSize, VT_UI4
extern const PROPERTYKEY kImageDimensions;      // System.Image.Dimensions, VT_LPWSTR

KVD_COM_CLASSES_BEGIN

// The object Explorer and the indexer ask for a .kvd document's properties:
// the canvas size, read once from the header and the manifest when it is
// initialised. It never writes and keeps no reference to the stream, so the
// document's file is held only while Initialize reads it. One reference count
// serves every interface; the object counts itself in liveObjects from
// construction to destruction.
class KvdPropertyHandler final : public IInitializeWithStream,
                                 public IPropertyStore,
                                 public IPropertyStoreCapabilities {
 public:
  // Reference count 1, no properties.
  explicit KvdPropertyHandler(std::atomic<std::int32_t>& liveObjects);

  KvdPropertyHandler(const KvdPropertyHandler&) = delete;
  KvdPropertyHandler& operator=(const KvdPropertyHandler&) = delete;

  // IUnknown, the same through every interface. IUnknown is answered with
  // the IPropertyStore pointer.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // Reads the canvas size and lets go of the stream. A handler is initialised
  // once only; a mode that asks to write is refused with STG_E_ACCESSDENIED.
  // A read of the stream that fails answers the stream's own result and
  // leaves the handler uninitialised.
  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD mode) override;

  // Three properties when the document declares its canvas size, else none.
  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override;
  // The value, or VT_EMPTY (S_OK) for a property the document does not have.
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override;
  // Read-only: STG_E_ACCESSDENIED.
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override;
  HRESULT STDMETHODCALLTYPE Commit() override;

  // S_FALSE for every property.
  HRESULT STDMETHODCALLTYPE IsPropertyWritable(REFPROPERTYKEY key) override;

 private:
  // Only the last Release destroys the object.
  ~KvdPropertyHandler();

  std::atomic<std::uint32_t> referenceCount_{1};
  bool initialized_ = false;
  std::optional<CanvasSize> canvas_;
  std::atomic<std::int32_t>& liveObjects_;
};

KVD_COM_CLASSES_END

}  // namespace kvd
