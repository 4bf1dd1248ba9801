#include "preview_handler/kvd_preview_handler.h"

#include <utility>

#include "preview_handler/preview_window_class.h"
#include "shell_module/module_state.h"
#include "shell_module/istream_byte_stream.h"
#include "thumbnail_provider/preview_pipeline.h"

namespace kvd {

const CLSID CLSID_KvdPreviewHandler = {
    0xDFD3E97B, 0x23CD, 0x4102, {0x94, 0x87, 0x1C, 0x03, 0x81, 0x89, 0xA2, 0x23}};

namespace {

constexpr WCHAR kNoPreviewMessage[] = L"This document holds no preview picture.";

// A COLORREF is 0x00BBGGRR; the pixel word is 0xAARRGGBB.
ruta::ArgbPixel PixelFromColour(COLORREF colour) {
  return (static_cast<ruta::ArgbPixel>(GetRValue(colour)) << 16) |
         (static_cast<ruta::ArgbPixel>(GetGValue(colour)) << 8) | GetBValue(colour);
}

}  // namespace

KvdPreviewHandler::KvdPreviewHandler(std::atomic<std::int32_t>& liveObjects)
    : background_(GetSysColor(COLOR_WINDOW)), textColour_(GetSysColor(COLOR_WINDOWTEXT)), liveObjects_(liveObjects) {
  ++liveObjects_;
}

KvdPreviewHandler::~KvdPreviewHandler() {
  Unload();
  ReleaseSite();
  --liveObjects_;
}

HRESULT KvdPreviewHandler::QueryInterface(REFIID riid, void** ppv) {
  const QITAB table[] = {
      InterfaceEntry<IPreviewHandler>(__uuidof(IPreviewHandler), *this),
      InterfaceEntry<IInitializeWithStream>(__uuidof(IInitializeWithStream), *this),
      InterfaceEntry<IObjectWithSite>(__uuidof(IObjectWithSite), *this),
      InterfaceEntry<IOleWindow>(__uuidof(IOleWindow), *this),
      InterfaceEntry<IPreviewHandlerVisuals>(__uuidof(IPreviewHandlerVisuals), *this),
      kEndOfInterfaceTable,
  };
  return QISearch(this, table, riid, ppv);
}

ULONG KvdPreviewHandler::AddRef() { return ++referenceCount_; }

ULONG KvdPreviewHandler::Release() {
  const ULONG remaining = --referenceCount_;
  if (remaining == 0) delete this;
  return remaining;
}

HRESULT KvdPreviewHandler::Initialize(IStream* stream, DWORD) {
  if (stream == nullptr) return E_INVALIDARG;
  if (stream_ != nullptr || documentRead_) return HResultFromWin32(ERROR_ALREADY_INITIALIZED);
  void* queried = nullptr;
  const HRESULT result = stream->QueryInterface(__uuidof(IStream), &queried);
  // Only a successful query hands over a reference.
  if (!Failed(result)) stream_ = static_cast<IStream*>(queried);
  return result;
}

HRESULT KvdPreviewHandler::SetSite(IUnknown* site) {
  ReleaseSite();
  if (site == nullptr) return S_OK;
  site_ = site;
  site_->AddRef();
  void* frame = nullptr;
  // A site without a frame is allowed: there is then no one to take keys.
  if (!Failed(site->QueryInterface(__uuidof(IPreviewHandlerFrame), &frame))) {
    frame_ = static_cast<IPreviewHandlerFrame*>(frame);
  }
  return S_OK;
}

HRESULT KvdPreviewHandler::GetSite(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (site_ == nullptr) return E_FAIL;
  return site_->QueryInterface(riid, ppv);
}

HRESULT KvdPreviewHandler::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = window_;
  return window_ != nullptr ? S_OK : E_FAIL;
}

HRESULT KvdPreviewHandler::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT KvdPreviewHandler::SetWindow(HWND parent, const RECT* rect) {
  if (rect == nullptr) return E_INVALIDARG;
  parent_ = parent;
  rect_ = *rect;
  if (window_ == nullptr) return S_OK;
  ::SetParent(window_, parent_);
  return SetRect(rect);
}

HRESULT KvdPreviewHandler::SetRect(const RECT* rect) {
  if (rect == nullptr) return E_INVALIDARG;
  rect_ = *rect;
  if (window_ == nullptr) return S_OK;
  if (!SetWindowPos(window_, nullptr, rect_.left, rect_.top, rect_.right - rect_.left, rect_.bottom - rect_.top,
                    SWP_NOZORDER | SWP_NOACTIVATE)) {
    return LastErrorOr(E_FAIL);
  }
  return RenderAndRepaint();
}

HRESULT KvdPreviewHandler::DoPreview() {
  if ((stream_ == nullptr && !documentRead_) || parent_ == nullptr) return E_UNEXPECTED;
  if (window_ != nullptr) return RenderAndRepaint();
  if (!documentRead_) ReadDocument();
  // The pane then says itself that the file cannot be previewed; our message
  // would claim the document holds no picture.
  if (document_.outcome == LoadOutcome::ReadFailed) return readFailure_;
  const HRESULT rendered = Render();
  if (Failed(rendered)) return rendered;
  return CreatePreviewWindow();
}

HRESULT KvdPreviewHandler::Unload() {
  DestroyPreviewWindow();
  if (IStream* stream = std::exchange(stream_, nullptr)) stream->Release();
  document_.rows.FreeBuffer();
  document_.outcome = LoadOutcome::NoThumbnail;
  readFailure_ = S_OK;
  canvas_.FreeBuffer();
  canvasReady_ = false;
  documentRead_ = false;
  return S_OK;
}

HRESULT KvdPreviewHandler::SetFocus() {
  if (window_ == nullptr) return S_FALSE;
  ::SetFocus(window_);
  return S_OK;
}

HRESULT KvdPreviewHandler::QueryFocus(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = ::GetFocus();
  return *window != nullptr ? S_OK : LastErrorOr(E_FAIL);
}

HRESULT KvdPreviewHandler::TranslateAccelerator(MSG* message) {
  return frame_ != nullptr ? frame_->TranslateAccelerator(message) : S_FALSE;
}

HRESULT KvdPreviewHandler::SetBackgroundColor(COLORREF colour) {
  background_ = colour;
  return window_ != nullptr ? RenderAndRepaint() : S_OK;
}

HRESULT KvdPreviewHandler::SetFont(const LOGFONTW* font) {
  if (font == nullptr) return E_INVALIDARG;
  font_ = *font;
  hasFont_ = true;
  if (window_ != nullptr) InvalidateRect(window_, nullptr, FALSE);
  return S_OK;
}

HRESULT KvdPreviewHandler::SetTextColor(COLORREF colour) {
  textColour_ = colour;
  if (window_ != nullptr) InvalidateRect(window_, nullptr, FALSE);
  return S_OK;
}

// A document without a picture shows as the message. The pane never reads
// the stream again, not even after a failed read: letting go of it at once
// frees the file for the painting application to save over while the pane
// shows it.
void KvdPreviewHandler::ReadDocument() {
  {
    IStreamByteStream bytes(*stream_);
    ReadPreviewDocument(bytes, document_);
    readFailure_ = bytes.ReadFailure();
  }
  std::exchange(stream_, nullptr)->Release();
  documentRead_ = true;
}

HRESULT KvdPreviewHandler::Render() {
  return WithoutThrowing([&] {
    const RenderStatus status = RenderPreview(document_.Picture(), rect_.right - rect_.left,
                                              rect_.bottom - rect_.top, PixelFromColour(background_), canvas_);
    canvasReady_ = status == RenderStatus::Ok;
    // An empty pane shows nothing and is no failure.
    return status == RenderStatus::OutOfMemory ? E_OUTOFMEMORY : S_OK;
  });
}

HRESULT KvdPreviewHandler::RenderAndRepaint() {
  const HRESULT result = Render();
  InvalidateRect(window_, nullptr, FALSE);
  return result;
}

HRESULT KvdPreviewHandler::CreatePreviewWindow() {
  const HRESULT registered = AcquirePreviewWindowClass(WindowProcedure);
  if (Failed(registered)) return registered;
  window_ = CreateWindowExW(0, kPreviewWindowClassName, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, rect_.left,
                            rect_.top, rect_.right - rect_.left, rect_.bottom - rect_.top, parent_, nullptr,
                            g_moduleHandle, this);
  if (window_ != nullptr) return S_OK;
  const HRESULT failure = LastErrorOr(E_FAIL);
  ReleasePreviewWindowClass();
  return failure;
}

void KvdPreviewHandler::DestroyPreviewWindow() {
  if (window_ == nullptr) return;
  DestroyWindow(window_);
  window_ = nullptr;
  ReleasePreviewWindowClass();
}

// The members are cleared before anything is released: the site may hold the
// last reference to this handler, and its release then destroys the handler,
// whose destructor lets go of the site once more.
void KvdPreviewHandler::ReleaseSite() {
  IPreviewHandlerFrame* frame = std::exchange(frame_, nullptr);
  IUnknown* site = std::exchange(site_, nullptr);
  if (frame != nullptr) frame->Release();
  if (site != nullptr) site->Release();
}

LRESULT CALLBACK KvdPreviewHandler::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* handler = reinterpret_cast<KvdPreviewHandler*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the canvas covers the whole window
    case WM_PAINT:
      if (handler != nullptr) {
        handler->Paint(window);
        return 0;
      }
      break;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The canvas goes to the screen pixel for pixel: it is opaque, and GDI would
// ignore its alpha anyway.
void KvdPreviewHandler::Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC context = BeginPaint(window, &paint);
  if (context != nullptr && canvasReady_) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = canvas_.width;
    info.bmiHeader.biHeight = -canvas_.height;  // top-down, as the canvas rows are
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(context, 0, 0, static_cast<DWORD>(canvas_.width), static_cast<DWORD>(canvas_.height), 0, 0, 0,
                      static_cast<UINT>(canvas_.height), canvas_.pixels, &info, DIB_RGB_COLORS);
    if (document_.outcome == LoadOutcome::NoThumbnail) DrawMessage(context);
  }
  EndPaint(window, &paint);
}

void KvdPreviewHandler::DrawMessage(HDC context) const {
  HFONT font = hasFont_ ? CreateFontIndirectW(&font_) : nullptr;
  HGDIOBJ previous = SelectObject(context, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(context, TRANSPARENT);
  ::SetTextColor(context, textColour_);
  RECT area{0, 0, canvas_.width, canvas_.height};
  DrawTextW(context, kNoPreviewMessage, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(context, previous);
  if (font != nullptr) DeleteObject(font);
}

}  // namespace kvd
