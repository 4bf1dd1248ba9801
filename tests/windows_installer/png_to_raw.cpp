// kvd_png_to_raw INPUT.png OUTPUT.raw: decodes a PNG with Windows' imaging
// component into the layout of kvd-thumbnail --raw and of the expectations
// (bottom row first, blue, green, red, alpha), so that a script can compare
// them with cmp.

#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <fstream>
#include <vector>

namespace {

template <typename T>
struct Released {
  T* pointer = nullptr;
  ~Released() {
    if (pointer != nullptr) pointer->Release();
  }
};

HRESULT Decode(const wchar_t* path, UINT& width, UINT& height, std::vector<BYTE>& topDown) {
  Released<IWICImagingFactory> imaging;
  Released<IWICBitmapDecoder> decoder;
  Released<IWICBitmapFrameDecode> frame;
  Released<IWICBitmapSource> converted;
  HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                    reinterpret_cast<void**>(&imaging.pointer));
  if (FAILED(result) ||
      FAILED(result = imaging.pointer->CreateDecoderFromFilename(path, nullptr, GENERIC_READ,
                                                                 WICDecodeMetadataCacheOnDemand, &decoder.pointer)) ||
      FAILED(result = decoder.pointer->GetFrame(0, &frame.pointer)) ||
      FAILED(result = WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.pointer, &converted.pointer)) ||
      FAILED(result = converted.pointer->GetSize(&width, &height))) {
    return result;
  }
  topDown.resize(std::size_t{width} * height * 4);
  return converted.pointer->CopyPixels(nullptr, width * 4, static_cast<UINT>(topDown.size()), topDown.data());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputs("usage: kvd_png_to_raw INPUT.png OUTPUT.raw\n", stderr);
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  UINT width = 0;
  UINT height = 0;
  std::vector<BYTE> topDown;
  const HRESULT result = Decode(argv[1], width, height, topDown);
  if (FAILED(result)) {
    std::fprintf(stderr, "kvd_png_to_raw: cannot decode the PNG (0x%08lX)\n", static_cast<unsigned long>(result));
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary);
  const std::size_t rowBytes = std::size_t{width} * 4;
  for (UINT row = height; row-- > 0;) {
    out.write(reinterpret_cast<const char*>(topDown.data() + row * rowBytes), static_cast<std::streamsize>(rowBytes));
  }
  out.close();
  return out ? 0 : 1;
}
