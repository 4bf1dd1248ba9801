// kvd_preview_host [installed] EXPECTATIONS_DIR: drives KvdPreviewDll.dll the
// way the preview pane does, in process (Wine has no preview host process):
// registers it and reads the entries back, finds the class through the file
// type's shellex key, shows a document in a real window and compares the
// window's pixels with the native render at two pane sizes, shows the message
// of a document without a preview, unloads, and unregisters. Between, what a
// long-lived host puts it through: two panes on two threads at once, the
// module unloaded after every preview, and a site that owns its handler.
// With "installed", only shows the document through the class that a package
// installed in this process's registry view.

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.h"
#include "expectations.h"
#include "failing_stream.h"
#include "handle_count.h"
#include "host_support.h"

namespace kvd::wine {
namespace {

constexpr wchar_t kModuleName[] = L"KvdPreviewDll.dll";
// The class every installation knows the handler by.
constexpr wchar_t kPreviewClass[] = L"{DFD3E97B-23CD-4102-9487-1C038189A223}";
// The shell looks for preview handlers under the IPreviewHandler identifier.
constexpr wchar_t kPreviewHandler[] = L"\\shellex\\{8895b1c6-b41f-4c1c-a562-0d564250836f}";
constexpr wchar_t kPreviewHandlerList[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers";
constexpr wchar_t kDisplayName[] = L"KvdThumb preview of .kvd documents";
// The shell's preview host of this process's bitness.
constexpr const wchar_t* kPreviewHostAppId =
    sizeof(void*) == 4 ? L"{534A1E02-D58F-44f0-B58B-36CBED287C7C}" : L"{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}";

struct Pane {
  std::filesystem::path document;
  COLORREF background = 0;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // top row first, blue, green, red, alpha
};

std::vector<Pane> ReadPanes(const std::filesystem::path& dir) {
  std::vector<Pane> panes;
  std::ifstream index(dir / "preview-index.txt");
  KVD_CHECK(index.is_open());
  Pane pane;
  std::string document, paneFile;
  while (index >> document >> std::hex >> pane.background >> std::dec >> pane.width >> pane.height >> paneFile) {
    pane.document = dir / document;
    pane.pixels = ReadFileBytes(dir / paneFile);
    panes.push_back(pane);
  }
  KVD_CHECK(panes.size() >= 2);
  return panes;
}

std::wstring ModulePath() { return ModuleBesideProgram(kModuleName); }

HRESULT CallModule(const char* exportName) {
  HMODULE module = LoadLibraryW(ModulePath().c_str());
  if (!KVD_CHECK(module != nullptr)) return E_FAIL;
  using Export = HRESULT(STDAPICALLTYPE*)();
  const auto function = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, exportName)));
  const HRESULT result = KVD_CHECK(function != nullptr) ? function() : E_FAIL;
  FreeLibrary(module);
  return result;
}

bool CheckText(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& expected) {
  const std::wstring actual = ReadRegistryText(root, key, name);
  if (actual == expected) return true;
  const std::string where = "value " + std::string(name ? Narrow(name) : "(default)") + " of " + Narrow(key);
  ReportFailure(__FILE__, __LINE__, where + " is " + Narrow(actual) + ", expected " + Narrow(expected));
  return false;
}

// The key the shell reads the handler from: under the ProgID that .kvd names, or .kvd.
std::wstring HandlerKey() {
  const std::wstring progId = ReadRegistryText(HKEY_CLASSES_ROOT, L".kvd", nullptr);
  return (progId == L"<missing>" || progId.empty() ? std::wstring(L".kvd") : progId) + kPreviewHandler;
}

// The class as the shell finds it: through the file type's shellex key.
CLSID RegisteredClass() {
  CLSID clsid{};
  KVD_CHECK_EQ(CLSIDFromString(ReadRegistryText(HKEY_CLASSES_ROOT, HandlerKey(), nullptr).c_str(), &clsid), S_OK);
  return clsid;
}

std::wstring ClassText(const CLSID& clsid) {
  wchar_t text[64];
  KVD_CHECK_EQ(StringFromGUID2(clsid, text, 64), 39);
  return text;
}

void CheckRegistered() {
  KVD_CHECK_EQ(CallModule("DllRegisterServer"), S_OK);
  const std::wstring classId = ClassText(RegisteredClass());
  const std::wstring classKey = L"CLSID\\" + classId;
  CheckText(HKEY_CLASSES_ROOT, classKey, nullptr, L"KvdPreviewDll.KvdPreviewHandler Class");
  CheckText(HKEY_CLASSES_ROOT, classKey, L"DisplayName", kDisplayName);
  CheckText(HKEY_CLASSES_ROOT, classKey, L"AppID", kPreviewHostAppId);
  CheckText(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", nullptr, ModulePath());
  CheckText(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
  CheckText(HKEY_LOCAL_MACHINE, kPreviewHandlerList, classId.c_str(), kDisplayName);
  // It only reads its stream: it runs with the host's low integrity.
  KVD_CHECK(ReadRegistryText(HKEY_CLASSES_ROOT, classKey, L"DisableLowILProcessIsolation") == L"<missing>");
}

void CheckUnregistered(const CLSID& clsid) {
  KVD_CHECK_EQ(CallModule("DllUnregisterServer"), S_OK);
  const std::wstring classId = ClassText(clsid);
  HKEY key = nullptr;
  KVD_CHECK_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + classId).c_str(), 0, KEY_READ, &key),
               ERROR_FILE_NOT_FOUND);
  KVD_CHECK_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, HandlerKey().c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  KVD_CHECK(ReadRegistryText(HKEY_LOCAL_MACHINE, kPreviewHandlerList, classId.c_str()) == L"<missing>");
}

// A frame that counts the keys handed to it. It lives on the stack and is
// never destroyed through an interface pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class Frame final : public IPreviewHandlerFrame {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid != IID_IUnknown && riid != __uuidof(IPreviewHandlerFrame)) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = static_cast<IPreviewHandlerFrame*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(PREVIEWHANDLERFRAMEINFO* info) override {
    *info = {};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override {
    ++keys;
    return S_OK;
  }

  std::atomic<ULONG> references{1};
  int keys = 0;
};
#pragma GCC diagnostic pop

void DispatchQueuedMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Lets the windows paint; DestroyWindow and painting need the queue served.
void PumpMessages() {
  for (int round = 0; round < 20; ++round) {
    DispatchQueuedMessages();
    Sleep(20);
  }
}

// The references a COM object holds at the moment.
ULONG References(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

HWND NewParentWindow(DWORD style = WS_POPUP | WS_VISIBLE) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"KvdPreviewPaneHost";
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  KVD_CHECK(RegisterClassW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS);
  HWND parent = CreateWindowExW(0, windowClass.lpszClassName, L"pane", style, 0, 0, 400, 300, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
  KVD_CHECK(parent != nullptr);
  return parent;
}

// The window's pixels as GDI reads them from its device context.
std::vector<std::uint8_t> WindowPixels(HWND window, int width, int height) {
  std::vector<std::uint8_t> pixels;
  HDC windowContext = GetDC(window);
  HDC memory = CreateCompatibleDC(windowContext);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, as the expectation
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (KVD_CHECK(section != nullptr && bits != nullptr)) {
    HGDIOBJ previous = SelectObject(memory, section);
    KVD_CHECK(BitBlt(memory, 0, 0, width, height, windowContext, 0, 0, SRCCOPY));
    SelectObject(memory, previous);
    const auto* bytes = static_cast<const std::uint8_t*>(bits);
    pixels.assign(bytes, bytes + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    DeleteObject(section);
  }
  DeleteDC(memory);
  ReleaseDC(window, windowContext);
  return pixels;
}

// The screen keeps no alpha: blue, green and red must match byte for byte.
void CheckPanePixels(HWND window, const Pane& expected) {
  RECT client{};
  KVD_CHECK(GetClientRect(window, &client));
  KVD_CHECK_EQ(client.right, expected.width);
  KVD_CHECK_EQ(client.bottom, expected.height);
  const std::vector<std::uint8_t> actual = WindowPixels(window, expected.width, expected.height);
  if (!KVD_CHECK_EQ(actual.size(), expected.pixels.size())) return;
  for (std::size_t offset = 0; offset < actual.size(); ++offset) {
    if (offset % 4 == 3 || actual[offset] == expected.pixels[offset]) continue;
    const std::size_t pixel = offset / 4;
    ReportFailure(__FILE__, __LINE__,
                  "pane " + std::to_string(expected.width) + "x" + std::to_string(expected.height) +
                      ": first difference at row " + std::to_string(pixel / static_cast<std::size_t>(expected.width)) +
                      " column " + std::to_string(pixel % static_cast<std::size_t>(expected.width)) + ", byte " +
                      std::to_string(actual[offset]) + ", expected " + std::to_string(expected.pixels[offset]));
    return;
  }
}

template <typename Interface>
Interface* Query(IUnknown* object) {
  void* answer = nullptr;
  KVD_CHECK_EQ(object->QueryInterface(__uuidof(Interface), &answer), S_OK);
  return static_cast<Interface*>(answer);
}

void ShowPreview(const CLSID& clsid, const std::vector<Pane>& panes) {
  IPreviewHandler* handler = nullptr;
  if (!KVD_CHECK_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IPreviewHandler),
                                     reinterpret_cast<void**>(&handler)),
                    S_OK)) {
    return;
  }
  Frame frame;
  HWND parent = NewParentWindow();
  IObjectWithSite* withSite = Query<IObjectWithSite>(handler);
  KVD_CHECK_EQ(withSite->SetSite(&frame), S_OK);

  IStream* stream = nullptr;
  KVD_CHECK_EQ(SHCreateStreamOnFileEx(panes[0].document.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE,
                                      FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream),
               S_OK);
  IInitializeWithStream* initialize = Query<IInitializeWithStream>(handler);
  KVD_CHECK_EQ(initialize->Initialize(stream, STGM_READ), S_OK);
  KVD_CHECK_EQ(initialize->Initialize(stream, STGM_READ), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
  IPreviewHandlerVisuals* visuals = Query<IPreviewHandlerVisuals>(handler);
  KVD_CHECK_EQ(visuals->SetBackgroundColor(panes[0].background), S_OK);
  IOleWindow* oleWindow = Query<IOleWindow>(handler);
  HWND preview = nullptr;
  KVD_CHECK_EQ(oleWindow->GetWindow(&preview), E_FAIL);  // nothing shown before DoPreview

  const RECT first{0, 0, panes[0].width, panes[0].height};
  KVD_CHECK_EQ(handler->SetWindow(parent, &first), S_OK);
  KVD_CHECK_EQ(handler->DoPreview(), S_OK);
  KVD_CHECK_EQ(References(stream), 1u);  // read once: the file is free to be saved over
  PumpMessages();
  KVD_CHECK_EQ(oleWindow->GetWindow(&preview), S_OK);
  if (KVD_CHECK(preview != nullptr && GetParent(preview) == parent)) CheckPanePixels(preview, panes[0]);

  const RECT second{0, 0, panes[1].width, panes[1].height};
  KVD_CHECK_EQ(handler->SetRect(&second), S_OK);
  PumpMessages();
  if (preview != nullptr) CheckPanePixels(preview, panes[1]);

  MSG key{parent, WM_KEYDOWN, VK_F5, 0, 0, {}};
  KVD_CHECK_EQ(handler->TranslateAccelerator(&key), S_OK);
  KVD_CHECK_EQ(frame.keys, 1);

  KVD_CHECK_EQ(handler->Unload(), S_OK);
  PumpMessages();
  KVD_CHECK(!IsWindow(preview));
  KVD_CHECK_EQ(oleWindow->GetWindow(&preview), E_FAIL);
  KVD_CHECK_EQ(withSite->SetSite(nullptr), S_OK);
  KVD_CHECK_EQ(frame.references.load(), 1u);  // the site let go
  for (IUnknown* object : {static_cast<IUnknown*>(withSite), static_cast<IUnknown*>(initialize),
                           static_cast<IUnknown*>(visuals), static_cast<IUnknown*>(oleWindow)}) {
    object->Release();
  }
  KVD_CHECK_EQ(handler->Release(), 0u);
  KVD_CHECK_EQ(stream->Release(), 0u);
  DestroyWindow(parent);
  PumpMessages();
}

// A document without a usable preview: the pane's colour with one line of
// text across its middle, and nothing above or below the line.
void ShowMessage(const CLSID& clsid, const Pane& pane) {
  IPreviewHandler* handler = nullptr;
  if (!KVD_CHECK_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IPreviewHandler),
                                     reinterpret_cast<void**>(&handler)),
                    S_OK)) {
    return;
  }
  HWND parent = NewParentWindow();
  IStream* stream = nullptr;
  KVD_CHECK_EQ(SHCreateStreamOnFileEx((pane.document.parent_path() / "chunk-missing.kvd").c_str(),
                                      STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE, nullptr,
                                      &stream),
               S_OK);
  IInitializeWithStream* initialize = Query<IInitializeWithStream>(handler);
  KVD_CHECK_EQ(initialize->Initialize(stream, STGM_READ), S_OK);
  IPreviewHandlerVisuals* visuals = Query<IPreviewHandlerVisuals>(handler);
  KVD_CHECK_EQ(visuals->SetBackgroundColor(pane.background), S_OK);
  KVD_CHECK_EQ(visuals->SetTextColor(RGB(255, 255, 255)), S_OK);
  const RECT area{0, 0, pane.width, pane.height};
  KVD_CHECK_EQ(handler->SetWindow(parent, &area), S_OK);
  KVD_CHECK_EQ(handler->DoPreview(), S_OK);
  PumpMessages();
  IOleWindow* oleWindow = Query<IOleWindow>(handler);
  HWND preview = nullptr;
  KVD_CHECK_EQ(oleWindow->GetWindow(&preview), S_OK);
  const std::vector<std::uint8_t> pixels = WindowPixels(preview, pane.width, pane.height);
  const auto isBackground = [&](int x, int y) {
    const std::uint8_t* bgr = pixels.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(pane.width) +
                                               static_cast<std::size_t>(x)) * 4;
    return bgr[0] == GetBValue(pane.background) && bgr[1] == GetGValue(pane.background) &&
           bgr[2] == GetRValue(pane.background);
  };
  if (KVD_CHECK_EQ(pixels.size(), static_cast<std::size_t>(pane.width * pane.height * 4))) {
    bool textInMiddleRows = false;
    for (int y = 0; y < pane.height; ++y) {
      for (int x = 0; x < pane.width; ++x) {
        const bool nearMiddle = y > pane.height / 2 - 12 && y < pane.height / 2 + 12;
        if (isBackground(x, y)) continue;
        if (!KVD_CHECK(nearMiddle)) return;
        textInMiddleRows = true;
      }
    }
    KVD_CHECK(textInMiddleRows);
  }
  KVD_CHECK_EQ(handler->Unload(), S_OK);
  PumpMessages();
  for (IUnknown* object : {static_cast<IUnknown*>(initialize), static_cast<IUnknown*>(visuals),
                           static_cast<IUnknown*>(oleWindow)}) {
    object->Release();
  }
  KVD_CHECK_EQ(handler->Release(), 0u);
  KVD_CHECK_EQ(stream->Release(), 0u);
  DestroyWindow(parent);
  PumpMessages();
}

// One preview as the pane makes it, in a window of its own that is gone
// afterwards: DoPreview's answer, or the first failure before it.
HRESULT ShowOnce(const CLSID& clsid, IStream* stream) {
  IPreviewHandler* handler = nullptr;
  HRESULT result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IPreviewHandler),
                                    reinterpret_cast<void**>(&handler));
  if (result != S_OK) return result;
  IInitializeWithStream* initialize = Query<IInitializeWithStream>(handler);
  // Hidden: shown windows on two threads hand the activation to and fro, and
  // each DestroyWindow then waits for the other thread.
  HWND parent = NewParentWindow(WS_POPUP);
  const RECT area{0, 0, 200, 150};
  result = initialize != nullptr && stream != nullptr ? initialize->Initialize(stream, STGM_READ) : E_FAIL;
  if (result == S_OK) result = handler->SetWindow(parent, &area);
  if (result == S_OK) result = handler->DoPreview();
  // No window after a failure: the pane shows its own message.
  HWND preview = nullptr;
  IOleWindow* oleWindow = Query<IOleWindow>(handler);
  if (FAILED(result) && oleWindow != nullptr) KVD_CHECK_EQ(oleWindow->GetWindow(&preview), E_FAIL);
  if (oleWindow != nullptr) oleWindow->Release();
  handler->Unload();
  if (initialize != nullptr) initialize->Release();
  handler->Release();
  DestroyWindow(parent);
  DispatchQueuedMessages();
  return result;
}

HRESULT ShowOnce(const CLSID& clsid, const std::vector<std::uint8_t>& document) {
  IStream* stream = SHCreateMemStream(document.data(), static_cast<UINT>(document.size()));
  const HRESULT result = ShowOnce(clsid, stream);
  if (stream != nullptr) stream->Release();
  return result;
}

// A read that fails at any read of the document is answered with the
// stream's own result, never shown as a document without a picture; a seek
// that fails ends the document there, as it always did.
void CheckFailedReads(const CLSID& clsid, const std::vector<std::uint8_t>& document) {
  for (const bool failSeek : {false, true}) {
    for (int call = 1;; ++call) {
      const StreamFault fault = failSeek ? StreamFault{0, E_PENDING, call} : StreamFault{call, STG_E_READFAULT, 0};
      auto* stream = new FailingStream(document, fault);
      const HRESULT result = ShowOnce(clsid, stream);
      const bool struck = stream->Struck();
      stream->Release();
      if (!KVD_CHECK_EQ(result, struck && !failSeek ? STG_E_READFAULT : S_OK)) {
        std::fprintf(stderr, "  %s %d failed\n", failSeek ? "seek" : "read", call);
      }
      if (!struck) break;
    }
  }
}

// Two Explorer windows, or a file manager with two panes, preview at once.
constexpr int kPreviewsPerPane = 300;

struct PaneJob {
  CLSID clsid;
  const std::vector<std::uint8_t>* document;
};

DWORD WINAPI ShowPreviewsInTurn(void* parameter) {
  const auto& job = *static_cast<const PaneJob*>(parameter);
  KVD_CHECK_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  for (int shown = 0; shown < kPreviewsPerPane; ++shown) KVD_CHECK_EQ(ShowOnce(job.clsid, *job.document), S_OK);
  CoUninitialize();
  return 0;
}

void CheckTwoPanesAtOnce(const CLSID& clsid, const std::vector<std::uint8_t>& document) {
  PaneJob job{clsid, &document};
  HANDLE threads[2];
  for (HANDLE& thread : threads) {
    thread = CreateThread(nullptr, 0, ShowPreviewsInTurn, &job, 0, nullptr);
    KVD_CHECK(thread != nullptr);
  }
  // Windows of the process send this thread messages too: it serves them while it waits.
  for (const HANDLE thread : threads) {
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      DispatchQueuedMessages();
    }
    CloseHandle(thread);
  }
}

// COM unloads an idle server, and a long-lived host comes back to it again
// and again: each unload must leave nothing behind in the process.
constexpr int kUnloadCycles = 100;

void CheckUnloadCycles(const CLSID& clsid, const std::vector<std::uint8_t>& document) {
  std::size_t handlesBefore = 0;
  for (int cycle = 0; cycle < kUnloadCycles; ++cycle) {
    if (!KVD_CHECK_EQ(ShowOnce(clsid, document), S_OK)) return;
    CoFreeUnusedLibrariesEx(0, 0);
    if (!KVD_CHECK(GetModuleHandleW(kModuleName) == nullptr)) return;
    // The first cycle opens what the process keeps for good.
    if (cycle == 0) handlesBefore = CountOpenHandles();
  }
  KVD_CHECK_EQ(CountOpenHandles(), handlesBefore);
}

// A host's site that holds the only reference to its handler and lets go of
// it with its own last reference. It lives on the stack.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class OwningSite final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IUnknown ? this : nullptr;
    if (*ppv == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG remaining = --references;
    if (remaining == 0 && handler != nullptr) std::exchange(handler, nullptr)->Release();
    return static_cast<ULONG>(remaining);
  }

  std::atomic<LONG> references{1};
  IUnknown* handler = nullptr;
};
#pragma GCC diagnostic pop

void CheckSiteOwningItsHandler(const CLSID& clsid) {
  IObjectWithSite* handler = nullptr;
  if (!KVD_CHECK_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IObjectWithSite),
                                     reinterpret_cast<void**>(&handler)),
                    S_OK)) {
    return;
  }
  OwningSite site;
  KVD_CHECK_EQ(handler->SetSite(&site), S_OK);
  site.handler = handler;  // ours, handed over
  site.Release();
  // Letting go of the site destroys the handler, which must not let go of it again.
  KVD_CHECK_EQ(handler->SetSite(nullptr), S_OK);
  KVD_CHECK_EQ(site.references.load(), 0);
}

using CanUnloadFunction = HRESULT(STDAPICALLTYPE*)();

// Every object of the module is gone: its count is back to 0, and once it is
// unloaded no window class of its own points into it.
void CheckModuleUnused() {
  HMODULE module = GetModuleHandleW(kModuleName);
  if (!KVD_CHECK(module != nullptr)) return;
  const auto canUnload =
      reinterpret_cast<CanUnloadFunction>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  if (KVD_CHECK(canUnload != nullptr)) KVD_CHECK_EQ(canUnload(), S_OK);
  CoFreeUnusedLibrariesEx(0, 0);
  KVD_CHECK(GetModuleHandleW(kModuleName) == nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  KVD_CHECK(!GetClassInfoExW(module, L"KvdPreviewHandlerWindow", &windowClass));
}

// A package installed the handler: its class in this process's registry view
// names this bitness's preview host and shows the document exactly.
void CheckInstalled(const std::vector<Pane>& panes) {
  CLSID clsid{};
  KVD_CHECK_EQ(CLSIDFromString(kPreviewClass, &clsid), S_OK);
  CheckText(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kPreviewClass, L"AppID", kPreviewHostAppId);
  ShowPreview(clsid, panes);
  CheckModuleUnused();
}

}  // namespace
}  // namespace kvd::wine

int main(int argc, char** argv) {
  using namespace kvd::wine;
  const bool installed = argc == 3 && std::string_view(argv[1]) == "installed";
  if (argc != 2 && !installed) {
    std::fprintf(stderr, "usage: kvd_preview_host [installed] EXPECTATIONS_DIR\n");
    return 2;
  }
  const std::vector<Pane> panes = ReadPanes(argv[argc - 1]);
  KVD_CHECK_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  if (installed) {
    CheckInstalled(panes);
    CoUninitialize();
    return ExitStatus();
  }
  CheckRegistered();
  const CLSID clsid = RegisteredClass();
  if (panes.size() >= 2) {
    ShowPreview(clsid, panes);
    CheckModuleUnused();
    ShowMessage(clsid, panes[0]);  // the module loaded afresh
    CheckModuleUnused();
    const std::vector<std::uint8_t> document = ReadFileBytes(panes[0].document);
    CheckFailedReads(clsid, document);
    CheckTwoPanesAtOnce(clsid, document);
    CheckUnloadCycles(clsid, document);
    CheckSiteOwningItsHandler(clsid);
  }
  CheckModuleUnused();
  CheckUnregistered(clsid);
  CoUninitialize();
  return ExitStatus();
}
