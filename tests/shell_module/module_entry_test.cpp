#include <gtest/gtest.h>

#include "platform/stand_in/control.h"
#include "shell_module/module_exports.h"
#include "shell_module/module_state.h"
#include "support/fake_istream.h"

namespace kvd {
namespace {

// Each test starts from a freshly loaded module.
class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stand_in::Reset();
    g_moduleUsageCount = 0;
  }

  static IClassFactory* NewFactory() {
    void* factory = nullptr;
    EXPECT_EQ(DllGetClassObject(CLSID_KvdThumbnailProvider, IID_IClassFactory, &factory), S_OK);
    return static_cast<IClassFactory*>(factory);
  }

  template <typename Interface>
  static Interface* NewProvider(REFIID iid) {
    IClassFactory* factory = NewFactory();
    void* provider = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, iid, &provider), S_OK);
    factory->Release();
    return static_cast<Interface*>(provider);
  }

  static void* Query(IUnknown* object, REFIID iid) {
    void* answer = nullptr;
    EXPECT_EQ(object->QueryInterface(iid, &answer), S_OK);
    static_cast<IUnknown*>(answer)->Release();
    return answer;
  }
};

TEST_F(ModuleTest, ProcessAttachKeepsTheHandleAndStopsThreadNotifications) {
  auto* const instance = reinterpret_cast<HINSTANCE>(0x7FF612340000);
  for (const DWORD otherReason : {0u, 2u, 3u}) {  // process detach, thread attach, thread detach
    EXPECT_EQ(DllMain(instance, otherReason, nullptr), TRUE);
  }
  EXPECT_EQ(g_moduleHandle, nullptr);
  EXPECT_TRUE(stand_in::ThreadCallsDisabled().empty());

  EXPECT_EQ(DllMain(instance, DLL_PROCESS_ATTACH, nullptr), TRUE);
  EXPECT_EQ(g_moduleHandle, instance);
  EXPECT_EQ(stand_in::ThreadCallsDisabled(), std::vector<HMODULE>{instance});
  g_moduleHandle = nullptr;
}

TEST_F(ModuleTest, FactoriesAndLocksKeepTheModuleLoaded) {
  EXPECT_EQ(DllCanUnloadNow(), S_OK);

  IClassFactory* factory = NewFactory();
  EXPECT_EQ(g_moduleUsageCount, 1);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->AddRef(), 2u);
  EXPECT_EQ(factory->Release(), 1u);

  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->Release(), 0u);
  EXPECT_EQ(g_moduleUsageCount, 1);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

  IClassFactory* another = NewFactory();
  EXPECT_EQ(another->LockServer(FALSE), S_OK);
  another->Release();
  EXPECT_EQ(g_moduleUsageCount, 0);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ModuleTest, AnUnmatchedUnlockLetsTheModuleGoWhileObjectsLive) {
  IClassFactory* factory = NewFactory();
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(g_moduleUsageCount, -1);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  factory->Release();
  EXPECT_EQ(g_moduleUsageCount, -2);
}

TEST_F(ModuleTest, EveryRequestMakesItsOwnFactory) {
  IClassFactory* first = NewFactory();
  IClassFactory* second = NewFactory();
  EXPECT_NE(first, second);
  EXPECT_EQ(g_moduleUsageCount, 2);
  EXPECT_EQ(Query(first, IID_IUnknown), first);
  first->Release();
  second->Release();
  EXPECT_EQ(g_moduleUsageCount, 0);
}

TEST_F(ModuleTest, RefusedRequestsLeaveNothingBehind) {
  const CLSID otherClass{0x74408BFC, 0x4515, 0x4D3B, {0x95, 0x97, 0xC7, 0x24, 0x2D, 0x87, 0x35, 0x8D}};
  struct Case {
    const char* what;
    const CLSID& clsid;
    const IID& iid;
    HRESULT expected;
  };
  for (const Case& c : {Case{"other class", otherClass, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
                        Case{"other interface", CLSID_KvdThumbnailProvider, IID_IThumbnailProvider, E_NOINTERFACE}}) {
    void* answer = &answer;
    EXPECT_EQ(DllGetClassObject(c.clsid, c.iid, &answer), c.expected) << c.what;
    EXPECT_EQ(answer, nullptr) << c.what;
    EXPECT_EQ(g_moduleUsageCount, 0) << c.what;
  }

  IClassFactory* factory = NewFactory();
  for (const bool aggregated : {true, false}) {
    testing::FakeStream outer;
    void* answer = &answer;
    const HRESULT result = aggregated ? factory->CreateInstance(&outer, IID_IThumbnailProvider, &answer)
                                      : factory->CreateInstance(nullptr, IID_IStream, &answer);
    EXPECT_EQ(result, aggregated ? CLASS_E_NOAGGREGATION : E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
    EXPECT_EQ(g_moduleUsageCount, 1);
  }
  factory->Release();
}

TEST_F(ModuleTest, NullOutPointersAreRefusedWithoutBeingWrittenThrough) {
  EXPECT_EQ(DllGetClassObject(CLSID_KvdThumbnailProvider, IID_IClassFactory, nullptr), E_POINTER);
  IClassFactory* factory = NewFactory();
  EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IThumbnailProvider, nullptr), E_POINTER);
  factory->Release();
  auto* provider = NewProvider<IThumbnailProvider>(IID_IThumbnailProvider);
  EXPECT_EQ(provider->QueryInterface(IID_IThumbnailProvider, nullptr), E_POINTER);
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  EXPECT_EQ(provider->GetThumbnail(16, nullptr, &alpha), E_POINTER);
  EXPECT_EQ(provider->GetThumbnail(16, &bitmap, nullptr), E_POINTER);
  EXPECT_EQ(alpha, WTSAT_UNKNOWN);
  provider->Release();
  EXPECT_EQ(g_moduleUsageCount, 0);
}

TEST_F(ModuleTest, AProviderCountsWhileItLives) {
  auto* provider = NewProvider<IThumbnailProvider>(IID_IThumbnailProvider);
  EXPECT_EQ(g_moduleUsageCount, 1);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(provider->AddRef(), 2u);
  EXPECT_EQ(provider->Release(), 1u);
  EXPECT_EQ(provider->Release(), 0u);
  EXPECT_EQ(g_moduleUsageCount, 0);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ModuleTest, AProviderIsKnownByItsThumbnailProviderPointer) {
  auto* thumbnail = NewProvider<IThumbnailProvider>(IID_IThumbnailProvider);
  auto* initialize = static_cast<IInitializeWithStream*>(Query(thumbnail, IID_IInitializeWithStream));

  EXPECT_EQ(Query(thumbnail, IID_IUnknown), thumbnail);
  EXPECT_EQ(Query(initialize, IID_IUnknown), thumbnail);
  EXPECT_EQ(Query(initialize, IID_IThumbnailProvider), thumbnail);
  EXPECT_EQ(Query(initialize, IID_IInitializeWithStream), initialize);
  EXPECT_EQ(static_cast<void*>(initialize), dynamic_cast<void*>(thumbnail));  // the object's first interface
  EXPECT_NE(static_cast<void*>(initialize), static_cast<void*>(thumbnail));

  // Both interfaces share the one count.
  EXPECT_EQ(initialize->AddRef(), 2u);
  EXPECT_EQ(thumbnail->Release(), 1u);
  void* stream = nullptr;
  EXPECT_EQ(initialize->QueryInterface(IID_IStream, &stream), E_NOINTERFACE);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(initialize->Release(), 0u);
  EXPECT_EQ(g_moduleUsageCount, 0);
}

TEST_F(ModuleTest, DestroyingAProviderReleasesItsStreamOnce) {
  for (const bool initialised : {true, false}) {
    testing::FakeStream stream;
    auto* provider = NewProvider<IInitializeWithStream>(IID_IInitializeWithStream);
    if (initialised) {
      EXPECT_EQ(provider->Initialize(&stream, 0), S_OK);
      EXPECT_EQ(stream.references, 2u);
    }
    provider->Release();
    EXPECT_EQ(stream.references, 1u) << initialised;
    EXPECT_EQ(stream.releases, initialised ? 1 : 0);
  }
}

}  // namespace
}  // namespace kvd
