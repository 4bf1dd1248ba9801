// The module loaded directly, as the shell's COM runtime loads it: its class
// object, the objects it makes, and the usage count that DllCanUnloadNow reports.

#include <windows.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include "check.h"
#include "shell_host.h"
#include "shell_module/module_state.h"

namespace kvd::wine {
namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

struct Module {
  GetClassObjectFunction getClassObject;
  CanUnloadNowFunction canUnloadNow;
};

// A class identifier that differs from the provider's in one byte.
CLSID OtherClassId() {
  CLSID other = CLSID_KvdThumbnailProvider;
  other.Data4[7] ^= 1;
  return other;
}

ComRef<IClassFactory> NewFactory(const Module& module) {
  IClassFactory* factory = nullptr;
  KVD_CHECK_EQ(module.getClassObject(CLSID_KvdThumbnailProvider, __uuidof(IClassFactory),
                                     reinterpret_cast<void**>(&factory)),
               S_OK);
  return ComRef<IClassFactory>(factory);
}

void CheckClassObjectRequests(const Module& module) {
  void* object = nullptr;
  KVD_CHECK_EQ(module.getClassObject(OtherClassId(), __uuidof(IClassFactory), &object), CLASS_E_CLASSNOTAVAILABLE);

  object = &object;
  KVD_CHECK_EQ(module.getClassObject(CLSID_KvdThumbnailProvider, __uuidof(IStream), &object), E_NOINTERFACE);
  KVD_CHECK_EQ(object, nullptr);
  KVD_CHECK_EQ(module.canUnloadNow(), S_OK);

  const ComRef<IClassFactory> first = NewFactory(module);
  if (!KVD_CHECK(first != nullptr)) return;
  KVD_CHECK_EQ(module.canUnloadNow(), S_FALSE);
  IUnknown* second = nullptr;
  KVD_CHECK_EQ(module.getClassObject(CLSID_KvdThumbnailProvider, IID_IUnknown, reinterpret_cast<void**>(&second)),
               S_OK);
  KVD_CHECK(second != nullptr && second != first.get());
  if (second != nullptr) KVD_CHECK_EQ(second->Release(), 0UL);

  IUnknown* identity = nullptr;
  KVD_CHECK_EQ(first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  KVD_CHECK_EQ(static_cast<void*>(identity), static_cast<void*>(first.get()));
  if (identity != nullptr) KVD_CHECK_EQ(identity->Release(), 1UL);
}

void CheckCreateInstance(const Module& module) {
  const ComRef<IClassFactory> factory = NewFactory(module);
  if (!KVD_CHECK(factory != nullptr)) return;
  void* object = &object;
  IUnknown* outer = factory.get();
  KVD_CHECK_EQ(factory->CreateInstance(outer, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  object = &object;
  KVD_CHECK_EQ(factory->CreateInstance(nullptr, __uuidof(IStream), &object), E_NOINTERFACE);
  KVD_CHECK_EQ(object, nullptr);

  IInitializeWithStream* initialize = nullptr;
  KVD_CHECK_EQ(factory->CreateInstance(nullptr, __uuidof(IInitializeWithStream),
                                       reinterpret_cast<void**>(&initialize)),
               S_OK);
  if (!KVD_CHECK(initialize != nullptr)) return;
  IThumbnailProvider* provider = nullptr;
  KVD_CHECK_EQ(initialize->QueryInterface(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider)), S_OK);
  if (!KVD_CHECK(provider != nullptr)) return;

  // The identity of a provider is its IThumbnailProvider pointer, whichever
  // interface is asked.
  for (IUnknown* through : {static_cast<IUnknown*>(initialize), static_cast<IUnknown*>(provider)}) {
    IUnknown* identity = nullptr;
    KVD_CHECK_EQ(through->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    KVD_CHECK_EQ(static_cast<void*>(identity), static_cast<void*>(provider));
    if (identity != nullptr) identity->Release();
  }
  IInitializeWithStream* initializeAgain = nullptr;
  KVD_CHECK_EQ(provider->QueryInterface(__uuidof(IInitializeWithStream), reinterpret_cast<void**>(&initializeAgain)),
               S_OK);
  KVD_CHECK_EQ(initializeAgain, initialize);
  if (initializeAgain != nullptr) initializeAgain->Release();
  object = &object;
  KVD_CHECK_EQ(provider->QueryInterface(__uuidof(IStream), &object), E_NOINTERFACE);
  KVD_CHECK_EQ(object, nullptr);

  // One reference count for both interfaces, and Release reports what is left.
  KVD_CHECK_EQ(provider->AddRef(), 3UL);
  KVD_CHECK_EQ(initialize->Release(), 2UL);
  KVD_CHECK_EQ(provider->Release(), 1UL);
  KVD_CHECK_EQ(module.canUnloadNow(), S_FALSE);
  KVD_CHECK_EQ(provider->Release(), 0UL);
}

// A provider that was initialised releases its stream once when it goes.
void CheckStreamReleasedWithProvider(const Module& module) {
  const ComRef<IClassFactory> factory = NewFactory(module);
  IStream* stream = SHCreateMemStream(nullptr, 0);
  if (!KVD_CHECK(factory != nullptr && stream != nullptr)) return;
  IInitializeWithStream* initialize = nullptr;
  KVD_CHECK_EQ(factory->CreateInstance(nullptr, __uuidof(IInitializeWithStream),
                                       reinterpret_cast<void**>(&initialize)),
               S_OK);
  if (!KVD_CHECK(initialize != nullptr)) return;
  KVD_CHECK_EQ(initialize->Initialize(stream, STGM_READ), S_OK);
  KVD_CHECK_EQ(stream->AddRef(), 3UL);  // ours, the provider's, this one
  KVD_CHECK_EQ(initialize->Release(), 0UL);
  KVD_CHECK_EQ(stream->Release(), 1UL);
  KVD_CHECK_EQ(stream->Release(), 0UL);
}

void CheckServerLocks(const Module& module) {
  ComRef<IClassFactory> factory = NewFactory(module);
  if (!KVD_CHECK(factory != nullptr)) return;
  KVD_CHECK_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  KVD_CHECK_EQ(module.canUnloadNow(), S_FALSE);  // the lock alone keeps the module

  factory = NewFactory(module);
  if (!KVD_CHECK(factory != nullptr)) return;
  KVD_CHECK_EQ(factory->LockServer(FALSE), S_OK);
  KVD_CHECK_EQ(module.canUnloadNow(), S_FALSE);  // the factory still lives
  // An unmatched unlock lowers the count all the same, below the live factory.
  KVD_CHECK_EQ(factory->LockServer(FALSE), S_OK);
  KVD_CHECK_EQ(module.canUnloadNow(), S_OK);
  KVD_CHECK_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  KVD_CHECK_EQ(module.canUnloadNow(), S_OK);
}

}  // namespace

int CheckClassFactoryAndCounting() {
  const HMODULE dll = LoadLibraryW(ModulePath().c_str());
  if (!KVD_CHECK(dll != nullptr)) return ExitStatus();
  const Module module{ModuleExport<GetClassObjectFunction>(dll, "DllGetClassObject"),
                      ModuleExport<CanUnloadNowFunction>(dll, "DllCanUnloadNow")};
  if (KVD_CHECK(module.getClassObject != nullptr && module.canUnloadNow != nullptr)) {
    KVD_CHECK_EQ(module.canUnloadNow(), S_OK);
    CheckClassObjectRequests(module);
    KVD_CHECK_EQ(module.canUnloadNow(), S_OK);
    CheckCreateInstance(module);
    KVD_CHECK_EQ(module.canUnloadNow(), S_OK);
    CheckStreamReleasedWithProvider(module);
    KVD_CHECK_EQ(module.canUnloadNow(), S_OK);
    CheckServerLocks(module);
  }
  KVD_CHECK(FreeLibrary(dll));
  return ExitStatus();
}

}  // namespace kvd::wine
