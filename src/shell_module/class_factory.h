#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace kvd {

KVD_COM_CLASSES_BEGIN

// Makes KvdThumbnailProvider objects. Each DllGetClassObject call makes its
// own factory; a factory counts in g_moduleUsageCount while it lives.
class ClassFactory final : public IClassFactory {
 public:
  // Reference count 1.
  ClassFactory();

  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // A new provider, handed out as riid. Aggregation is not supported.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  // Counts a lock in g_moduleUsageCount, or takes one off, matched or not.
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  // Only the last Release destroys the object.
  ~ClassFactory();

  std::atomic<std::uint32_t> referenceCount_{1};
};

KVD_COM_CLASSES_END

}  // namespace kvd
