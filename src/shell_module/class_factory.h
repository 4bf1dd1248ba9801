#pragma once

#include <atomic>
#include <cstdint>
#include <new>

#include "platform/platform.h"
#include "shell_module/module_state.h"

namespace kvd {

KVD_COM_CLASSES_BEGIN

// Makes Product objects, each counted in g_moduleUsageCount. Each
// DllGetClassObject call makes its own factory; a factory counts in
// g_moduleUsageCount while it lives. Product is a COM class with reference
// count 1 at construction, constructed from the counter it counts itself in.
template <typename Product>
class ClassFactory final : public IClassFactory {
 public:
  // Reference count 1.
  ClassFactory() { ++g_moduleUsageCount; }

  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    const QITAB table[] = {
        InterfaceEntry<IClassFactory>(IID_IClassFactory, *this),
        kEndOfInterfaceTable,
    };
    return QISearch(this, table, riid, ppv);
  }

  ULONG STDMETHODCALLTYPE AddRef() override { return ++referenceCount_; }

  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG remaining = --referenceCount_;
    if (remaining == 0) delete this;
    return remaining;
  }

  // A new product, handed out as riid. Aggregation is not supported.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* product = new (std::nothrow) Product(g_moduleUsageCount);
    if (product == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = product->QueryInterface(riid, ppv);
    product->Release();  // the caller's reference is now the only one, or none is left
    return result;
  }

  // Counts a lock in g_moduleUsageCount, or takes one off, matched or not.
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++g_moduleUsageCount;
    } else {
      --g_moduleUsageCount;
    }
    return S_OK;
  }

 private:
  // Only the last Release destroys the object.
  ~ClassFactory() { --g_moduleUsageCount; }

  std::atomic<std::uint32_t> referenceCount_{1};
};

KVD_COM_CLASSES_END

// The body of DllGetClassObject for a module that serves one class, served:
// a new factory of Product, handed out as riid.
template <typename Product>
HRESULT GetClassObject(const CLSID& served, REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != served) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) ClassFactory<Product>();
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = factory->QueryInterface(riid, ppv);
  factory->Release();  // the caller's reference is now the only one, or none is left
  return result;
}

}  // namespace kvd
