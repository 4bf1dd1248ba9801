#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "shell_module/module_exports.h"
#include "shell_module/module_state.h"

namespace kvd::testing {

// What one thumbnail request through the module's exports came to: the first
// failing result (S_OK when every step succeeded) and the bitmap's bits.
struct ShellAnswer {
  HRESULT result = S_OK;
  std::vector<std::uint8_t> bits;
};

// One request as the shell makes it: a class factory, a provider from it, the
// stream handed over, a cx x cx thumbnail, and everything released again.
inline ShellAnswer RequestThumbnail(IStream& stream, UINT cx) {
  ShellAnswer answer;
  void* factory = nullptr;
  answer.result = DllGetClassObject(CLSID_KvdThumbnailProvider, IID_IClassFactory, &factory);
  if (answer.result != S_OK) return answer;
  void* object = nullptr;
  answer.result = static_cast<IClassFactory*>(factory)->CreateInstance(nullptr, IID_IInitializeWithStream, &object);
  static_cast<IClassFactory*>(factory)->Release();
  if (answer.result != S_OK) return answer;
  auto* provider = static_cast<IInitializeWithStream*>(object);
  answer.result = provider->Initialize(&stream, 0);
  IThumbnailProvider* thumbnails = nullptr;
  if (answer.result == S_OK) {
    answer.result = provider->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&thumbnails));
  }
  if (answer.result == S_OK) {
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    answer.result = thumbnails->GetThumbnail(cx, &bitmap, &alpha);
    const std::unique_ptr<DibSection> section(bitmap);
    if (section != nullptr) answer.bits = std::move(section->bits);
    thumbnails->Release();
  }
  provider->Release();
  return answer;
}

}  // namespace kvd::testing
