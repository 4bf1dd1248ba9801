#include "shell_module/class_factory.h"

#include <new>

#include "shell_module/module_state.h"
#include "thumbnail_provider/kvd_thumbnail_provider.h"

namespace kvd {

ClassFactory::ClassFactory() { ++g_moduleUsageCount; }

ClassFactory::~ClassFactory() { --g_moduleUsageCount; }

HRESULT ClassFactory::QueryInterface(REFIID riid, void** ppv) {
  const QITAB table[] = {
      InterfaceEntry<IClassFactory>(IID_IClassFactory, *this),
      kEndOfInterfaceTable,
  };
  return QISearch(this, table, riid, ppv);
}

ULONG ClassFactory::AddRef() { return ++referenceCount_; }

ULONG ClassFactory::Release() {
  const ULONG remaining = --referenceCount_;
  if (remaining == 0) delete this;
  return remaining;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* provider = new (std::nothrow) KvdThumbnailProvider(g_moduleUsageCount);
  if (provider == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = provider->QueryInterface(riid, ppv);
  provider->Release();  // the caller's reference is now the only one, or none is left
  return result;
}

HRESULT ClassFactory::LockServer(BOOL lock) {
  if (lock) {
    ++g_moduleUsageCount;
  } else {
    --g_moduleUsageCount;
  }
  return S_OK;
}

}  // namespace kvd
