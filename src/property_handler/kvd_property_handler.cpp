#include "property_handler/kvd_property_handler.h"

#include <cstring>
#include <iterator>
#include <string>

#include "shell_module/istream_byte_stream.h"

namespace kvd {

const CLSID CLSID_KvdPropertyHandler = {
    0x409F04F5, 0x3E97, 0x49DB, {0xA9, 0x50, 0x33, 0x10, 0x15, 0xBA, 0xC6, 0xEE}};

// FMTID_ImageSummaryInformation, property IDs 3, 4 and 13.
constexpr GUID kImageSummaryInformation = {
    0x6444048F, 0x4C8B, 0x11D1, {0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03}};
const PROPERTYKEY kImageHorizontalSize = {kImageSummaryInformation, 3};
const PROPERTYKEY kImageVerticalSize = {kImageSummaryInformation, 4};
const PROPERTYKEY kImageDimensions = {kImageSummaryInformation, 13};

namespace {

const PROPERTYKEY* const kServedKeys[] = {&kImageDimensions, &kImageHorizontalSize, &kImageVerticalSize};

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) { return a.fmtid == b.fmtid && a.pid == b.pid; }

void SetUnsigned(std::uint32_t number, PROPVARIANT& value) {
  value.vt = VT_UI4;
  value.ulVal = number;
}

// "1920 x 1080", as Explorer shows the dimensions of images; the caller frees
// the text with PropVariantClear, hence CoTaskMemAlloc.
HRESULT SetDimensionsText(const CanvasSize& canvas, PROPVARIANT& value) {
  const std::wstring dimensions = std::to_wstring(canvas.width) + L" x " + std::to_wstring(canvas.height);
  const std::size_t bytes = (dimensions.size() + 1) * sizeof(WCHAR);
  auto* text = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
  if (text == nullptr) return E_OUTOFMEMORY;
  std::memcpy(text, dimensions.c_str(), bytes);
  value.vt = VT_LPWSTR;
  value.pwszVal = text;
  return S_OK;
}

}  // namespace

KvdPropertyHandler::KvdPropertyHandler(std::atomic<std::int32_t>& liveObjects) : liveObjects_(liveObjects) {
  ++liveObjects_;
}

KvdPropertyHandler::~KvdPropertyHandler() { --liveObjects_; }

HRESULT KvdPropertyHandler::QueryInterface(REFIID riid, void** ppv) {
  const QITAB table[] = {
      InterfaceEntry<IPropertyStore>(__uuidof(IPropertyStore), *this),
      InterfaceEntry<IInitializeWithStream>(__uuidof(IInitializeWithStream), *this),
      InterfaceEntry<IPropertyStoreCapabilities>(__uuidof(IPropertyStoreCapabilities), *this),
      kEndOfInterfaceTable,
  };
  return QISearch(this, table, riid, ppv);
}

ULONG KvdPropertyHandler::AddRef() { return ++referenceCount_; }

ULONG KvdPropertyHandler::Release() {
  const ULONG remaining = --referenceCount_;
  if (remaining == 0) delete this;
  return remaining;
}

HRESULT KvdPropertyHandler::Initialize(IStream* stream, DWORD mode) {
  if (stream == nullptr) return E_INVALIDARG;
  if (initialized_) return HResultFromWin32(ERROR_ALREADY_INITIALIZED);
  if ((mode & (STGM_WRITE | STGM_READWRITE)) != 0) return STG_E_ACCESSDENIED;
  return WithoutThrowing([&] {
    IStreamByteStream document(*stream);
    const std::optional<CanvasSize> canvas = ReadCanvasSize(document);
    // The indexer would store "no dimensions" for good; failing, the handler
    // stays uninitialised and a later Initialize may read the file again.
    if (document.ReadFailed()) return document.ReadFailure();
    canvas_ = canvas;
    initialized_ = true;
    return S_OK;
  });
}

HRESULT KvdPropertyHandler::GetCount(DWORD* count) {
  if (count == nullptr) return E_POINTER;
  *count = canvas_ ? static_cast<DWORD>(std::size(kServedKeys)) : 0;
  return S_OK;
}

HRESULT KvdPropertyHandler::GetAt(DWORD index, PROPERTYKEY* key) {
  if (key == nullptr) return E_POINTER;
  DWORD count = 0;
  GetCount(&count);
  if (index >= count) {
    *key = PROPERTYKEY{};
    return E_INVALIDARG;
  }
  *key = *kServedKeys[index];
  return S_OK;
}

HRESULT KvdPropertyHandler::GetValue(REFPROPERTYKEY key, PROPVARIANT* value) {
  if (value == nullptr) return E_POINTER;
  PropVariantInit(value);
  if (!canvas_) return S_OK;
  if (SameKey(key, kImageHorizontalSize)) SetUnsigned(canvas_->width, *value);
  if (SameKey(key, kImageVerticalSize)) SetUnsigned(canvas_->height, *value);
  if (SameKey(key, kImageDimensions)) return WithoutThrowing([&] { return SetDimensionsText(*canvas_, *value); });
  return S_OK;
}

HRESULT KvdPropertyHandler::SetValue(REFPROPERTYKEY, REFPROPVARIANT) { return STG_E_ACCESSDENIED; }

HRESULT KvdPropertyHandler::Commit() { return STG_E_ACCESSDENIED; }

HRESULT KvdPropertyHandler::IsPropertyWritable(REFPROPERTYKEY) { return S_FALSE; }

}  // namespace kvd
