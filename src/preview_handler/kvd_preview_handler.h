#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "raster/image.h"
#include "thumbnail_provider/preview_pipeline.h"

namespace kvd {

// The preview handler class, {DFD3E97B-23CD-4102-9487-1C038189A223}.
// Registered installations know the class by it: it never changes.
extern const CLSID CLSID_KvdPreviewHandler;

KVD_COM_CLASSES_BEGIN

// The object the shell's preview pane asks to show a .kvd document: it holds
// the document's stream until it reads it, once, on DoPreview, and paints the
// stored preview fitted to the pane in a child window of the pane. Nothing is
// read or drawn before DoPreview. One reference count serves every interface;
// the object counts itself in liveObjects from construction to destruction.
class KvdPreviewHandler final : public IPreviewHandler,
                                public IInitializeWithStream,
                                public IObjectWithSite,
                                public IOleWindow,
                                public IPreviewHandlerVisuals {
 public:
  // Reference count 1, no stream, no site, no window.
  explicit KvdPreviewHandler(std::atomic<std::int32_t>& liveObjects);

  KvdPreviewHandler(const KvdPreviewHandler&) = delete;
  KvdPreviewHandler& operator=(const KvdPreviewHandler&) = delete;

  // IUnknown, the same through every interface. IUnknown is answered with
  // the IPreviewHandler pointer.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // Takes a reference to stream; a handler is initialised once only, until
  // Unload.
  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD mode) override;

  // Keeps the site, and its IPreviewHandlerFrame if it has one, for
  // accelerators. A null site lets go of both.
  HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) override;
  HRESULT STDMETHODCALLTYPE GetSite(REFIID riid, void** ppv) override;

  // The preview window, or E_FAIL while there is none.
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) override;

  // The pane: the parent window and the rectangle in it to fill.
  HRESULT STDMETHODCALLTYPE SetWindow(HWND parent, const RECT* rect) override;
  // A new rectangle: the preview is fitted to it afresh and repainted.
  HRESULT STDMETHODCALLTYPE SetRect(const RECT* rect) override;
  // Reads the document, once, and shows it in a new child window of the
  // parent. E_UNEXPECTED without a parent, or without a stream or a document
  // read from one. A read of the stream that fails answers the stream's own
  // result, now and at every later call until Unload, and shows nothing.
  HRESULT STDMETHODCALLTYPE DoPreview() override;
  // Destroys the window and lets go of the document, and of the stream if it
  // was not read.
  HRESULT STDMETHODCALLTYPE Unload() override;
  HRESULT STDMETHODCALLTYPE SetFocus() override;
  HRESULT STDMETHODCALLTYPE QueryFocus(HWND* window) override;
  // Hands keys to the frame, which owns the accelerators; S_FALSE without one.
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override;

  HRESULT STDMETHODCALLTYPE SetBackgroundColor(COLORREF colour) override;
  HRESULT STDMETHODCALLTYPE SetFont(const LOGFONTW* font) override;
  HRESULT STDMETHODCALLTYPE SetTextColor(COLORREF colour) override;

 private:
  // Only the last Release destroys the object.
  ~KvdPreviewHandler();

  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  void ReadDocument();
  HRESULT CreatePreviewWindow();
  // Renders the pane's canvas at the rectangle's size.
  HRESULT Render();
  HRESULT RenderAndRepaint();
  // Paints window, which may not be window_ yet while it is being created.
  void Paint(HWND window);
  void DrawMessage(HDC context) const;
  void DestroyPreviewWindow();
  void ReleaseSite();

  std::atomic<std::uint32_t> referenceCount_{1};
  IStream* stream_ = nullptr;
  IUnknown* site_ = nullptr;
  IPreviewHandlerFrame* frame_ = nullptr;
  HWND parent_ = nullptr;
  RECT rect_{};
  HWND window_ = nullptr;
  COLORREF background_;
  COLORREF textColour_;
  LOGFONTW font_{};
  bool hasFont_ = false;
  bool documentRead_ = false;
  PreviewDocument document_;
  HRESULT readFailure_ = S_OK;
  ruta::CImage32 canvas_;
  bool canvasReady_ = false;
  std::atomic<std::int32_t>& liveObjects_;
};

KVD_COM_CLASSES_END

}  // namespace kvd
