// A document drawn by our thumbnail class, created through the registry as
// Explorer creates it and handed the file as a stream; and what the reader
// finds in the file, so that the report says why the picture is what it is.

#include <shlwapi.h>
#include <thumbcache.h>
#include <wincodec.h>

#include <chrono>
#include <vector>

#include "checks.h"
#include "class_loading.h"
#include "container_reader/file_stream.h"
#include "container_reader/thumbnail_loader.h"
#include "load_report_text.h"
#include "shell_module/module_state.h"
#include "windows_registry.h"

namespace kvd::windoctor {
namespace {

// The edge Explorer asks for its large icons and the preview of the Details pane.
constexpr UINT kEdge = 256;

template <typename T>
struct Released {
  T* pointer = nullptr;
  ~Released() {
    if (pointer != nullptr) pointer->Release();
  }
  T** Out() { return &pointer; }
  T* operator->() const { return pointer; }
};

struct Drawing {
  std::vector<BYTE> topDownBgra;  // kEdge x kEdge, top row first
  double milliseconds = 0;
};

HRESULT CopyBits(HBITMAP bitmap, std::vector<BYTE>& topDown) {
  DIBSECTION section{};
  if (GetObjectW(bitmap, sizeof section, &section) != sizeof section || section.dsBm.bmBitsPixel != 32 ||
      section.dsBm.bmWidth != static_cast<LONG>(kEdge) || std::abs(section.dsBm.bmHeight) != static_cast<LONG>(kEdge)) {
    return E_UNEXPECTED;
  }
  const std::size_t rowBytes = std::size_t{kEdge} * 4;
  const auto* bits = static_cast<const BYTE*>(section.dsBm.bmBits);
  topDown.resize(rowBytes * kEdge);
  for (UINT row = 0; row < kEdge; ++row) {
    const UINT source = section.dsBmih.biHeight > 0 ? kEdge - 1 - row : row;
    std::copy_n(bits + source * rowBytes, rowBytes, topDown.data() + row * rowBytes);
  }
  return S_OK;
}

// Our class as Explorer uses it: a provider from the factory, the file as a
// read-only stream, one GetThumbnail.
HRESULT Draw(IClassFactory* factory, const std::wstring& file, Drawing& drawing) {
  const auto started = std::chrono::steady_clock::now();
  Released<IInitializeWithStream> initialize;
  HRESULT result = factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(initialize.Out()));
  if (FAILED(result)) return result;
  Released<IThumbnailProvider> provider;
  result = initialize->QueryInterface(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(provider.Out()));
  if (FAILED(result)) return result;
  Released<IStream> stream;
  result = SHCreateStreamOnFileEx(file.c_str(), STGM_READ | STGM_SHARE_DENY_NONE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                  nullptr, stream.Out());
  if (FAILED(result)) return result;
  result = initialize->Initialize(stream.pointer, STGM_READ);
  if (FAILED(result)) return result;
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  result = provider->GetThumbnail(kEdge, &bitmap, &alpha);
  if (FAILED(result)) return result;
  drawing.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  result = CopyBits(bitmap, drawing.topDownBgra);
  DeleteObject(bitmap);
  return result;
}

// The picture as a PNG, by Windows' own imaging component.
HRESULT WritePng(const std::wstring& path, const std::vector<BYTE>& topDownBgra) {
  Released<IWICImagingFactory> imaging;
  HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                    reinterpret_cast<void**>(imaging.Out()));
  if (FAILED(result)) return result;
  Released<IWICStream> stream;
  Released<IWICBitmapEncoder> encoder;
  Released<IWICBitmapFrameEncode> frame;
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  const UINT stride = kEdge * 4;
  if (FAILED(result = imaging->CreateStream(stream.Out())) ||
      FAILED(result = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
      FAILED(result = imaging->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Out())) ||
      FAILED(result = encoder->Initialize(stream.pointer, WICBitmapEncoderNoCache)) ||
      FAILED(result = encoder->CreateNewFrame(frame.Out(), nullptr)) || FAILED(result = frame->Initialize(nullptr)) ||
      FAILED(result = frame->SetSize(kEdge, kEdge)) || FAILED(result = frame->SetPixelFormat(&format))) {
    return result;
  }
  if (format != GUID_WICPixelFormat32bppBGRA) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  if (FAILED(result = frame->WritePixels(kEdge, stride, static_cast<UINT>(topDownBgra.size()),
                                         const_cast<BYTE*>(topDownBgra.data()))) ||
      FAILED(result = frame->Commit())) {
    return result;
  }
  return encoder->Commit();
}

// Why the file cannot be opened, "" when it can.
std::string OpenProblem(const std::wstring& file) {
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ErrorText(HRESULT_FROM_WIN32(GetLastError()));
  CloseHandle(handle);
  return "";
}

std::string Milliseconds(double milliseconds) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.1f ms", milliseconds);
  return text.data();
}

}  // namespace

void CheckDocument(doctor::Report& report, const std::wstring& file, const std::optional<std::wstring>& png) {
  const std::string name = "document: " + Printable(file);
  if (const std::string problem = OpenProblem(file); !problem.empty()) {
    report.Wrong(name + " cannot be read (" + problem + ")", "check that the file exists and that you may read it");
    return;
  }
  ruta::CImage32 image;
  FileStream stream{std::filesystem::path(file)};
  const LoadReport load = LoadThumbnailImageWithReport(image, stream);
  const std::optional<ClassServer> server = FindClassServer(ClassIdText(CLSID_KvdThumbnailProvider), OwnView());
  if (!server) {
    report.Wrong(name + " was not drawn: KvdThumb's thumbnail class is not registered", "see the class lines above");
    return;
  }
  const LoadedClass loaded(server->path, CLSID_KvdThumbnailProvider);
  Drawing drawing;
  const HRESULT drawn = loaded.Factory() == nullptr ? E_FAIL : Draw(loaded.Factory(), file, drawing);
  if (FAILED(drawn)) {
    report.Wrong(name + ": KvdThumb drew nothing (" +
                     (loaded.Factory() == nullptr ? loaded.Problem() : ErrorText(drawn)) + "); the file: " +
                     DescribeLoad(load),
                 "check that the file can be read, then see the class lines above");
    return;
  }
  std::string found = name + ": KvdThumb drew it at " + std::to_string(kEdge) + " in " +
                      Milliseconds(drawing.milliseconds) + ": " + DescribeLoad(load);
  if (png) {
    const HRESULT written = WritePng(*png, drawing.topDownBgra);
    if (FAILED(written)) {
      report.Wrong(found + "; " + Printable(*png) + " could not be written (" + ErrorText(written) + ")",
                   "name a PNG file in a folder you may write to");
      return;
    }
    found += "; the picture is in " + Printable(*png);
  }
  switch (load.outcome) {
    case LoadOutcome::Thumbnail:
      report.Ok(found);
      break;
    case LoadOutcome::Placeholder:
      report.Wrong(found, "this is not a painting document; open the right file");
      break;
    case LoadOutcome::NoThumbnail:
      report.Wrong(found, "save the document again in the painting program, which stores a preview");
      break;
    case LoadOutcome::ReadFailed:
      report.Wrong(found, "check that the file can be read in full (a cloud or network file may be cut off)");
      break;
  }
}

}  // namespace kvd::windoctor
