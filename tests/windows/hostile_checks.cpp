// What the shell's thumbnail process puts a handler through beyond ordinary
// documents: worker threads with small stacks, and the module loaded and
// unloaded over and over, as COM does with idle servers.

#include <windows.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "check.h"
#include "expectations.h"
#include "handle_count.h"
#include "shell_host.h"
#include "shell_module/module_state.h"

namespace kvd::wine {
namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// The shell's worker threads may have stacks this small.
constexpr SIZE_T kShellWorkerStack = 256 * 1024;
// Each unload once leaked a thread-local-storage slot, and the module aborted
// when the process ran out of them, after about 1,080 cycles; each once
// leaked a kernel handle too.
constexpr int kUnloadCycles = 1200;

// A provider made by the class object of the module loaded at module.
ComRef<IInitializeWithStream> NewProviderOf(HMODULE module) {
  const auto getClassObject = ModuleExport<GetClassObjectFunction>(module, "DllGetClassObject");
  if (!KVD_CHECK(getClassObject != nullptr)) return nullptr;
  IClassFactory* factory = nullptr;
  if (!KVD_CHECK_EQ(getClassObject(CLSID_KvdThumbnailProvider, __uuidof(IClassFactory),
                                   reinterpret_cast<void**>(&factory)),
                    S_OK)) {
    return nullptr;
  }
  IInitializeWithStream* provider = nullptr;
  KVD_CHECK_EQ(factory->CreateInstance(nullptr, __uuidof(IInitializeWithStream), reinterpret_cast<void**>(&provider)),
               S_OK);
  factory->Release();
  return ComRef<IInitializeWithStream>(provider);
}

Thumbnail RenderWithModule(HMODULE module, const std::vector<std::uint8_t>& document, std::uint32_t cx) {
  const ComRef<IInitializeWithStream> provider = NewProviderOf(module);
  const ComRef<IStream> stream = MemoryStream(document);
  if (!KVD_CHECK(provider != nullptr && stream != nullptr)) return {};
  KVD_CHECK_EQ(provider->Initialize(stream.get(), STGM_READ), S_OK);
  return GetThumbnail(provider.get(), cx);
}

std::vector<Expectation> ExpectationsOf(const std::filesystem::path& dir, const std::string& documentPrefix,
                                        std::uint32_t cx) {
  std::vector<Expectation> chosen;
  for (Expectation& expected : ReadExpectations(dir)) {
    if (expected.cx == cx && expected.document.filename().string().starts_with(documentPrefix)) {
      chosen.push_back(std::move(expected));
    }
  }
  return chosen;
}

struct StackJob {
  HMODULE module;
  const Expectation* expected;
};

DWORD WINAPI RenderOnThisThread(void* parameter) {
  const auto& job = *static_cast<const StackJob*>(parameter);
  const Thumbnail thumbnail = RenderWithModule(job.module, ReadFileBytes(job.expected->document), job.expected->cx);
  KVD_CHECK_EQ(thumbnail.result, S_OK);
  CheckSameBits(thumbnail.bits, *job.expected, "256 KiB stack");
  return 0;
}

// A free TLS index; the lowest is handed out first, so a slot that something
// took and kept shows as a different answer.
DWORD ProbeFreeTlsIndex() {
  const DWORD index = TlsAlloc();
  KVD_CHECK(index != TLS_OUT_OF_INDEXES);
  TlsFree(index);
  return index;
}

// One cycle: load, render a valid document and one whose numbers do not
// convert, unload; false once the module stays loaded.
bool LoadRenderUnload(const std::vector<std::uint8_t>& valid, const std::vector<std::uint8_t>& notANumber) {
  const HMODULE module = LoadLibraryW(ModulePath().c_str());
  if (!KVD_CHECK(module != nullptr)) return false;
  KVD_CHECK_EQ(RenderWithModule(module, valid, 16).result, S_OK);
  KVD_CHECK_EQ(RenderWithModule(module, notANumber, 16).result, S_OK);
  KVD_CHECK(FreeLibrary(module));
  return KVD_CHECK(GetModuleHandleW(L"KvdThumbDll.dll") == nullptr);
}

}  // namespace

int CheckSmallStacks(const std::filesystem::path& expectationsDir) {
  const HMODULE module = LoadLibraryW(ModulePath().c_str());
  if (!KVD_CHECK(module != nullptr)) return ExitStatus();
  const std::vector<Expectation> nested = ExpectationsOf(expectationsDir, "nested-", 96);
  KVD_CHECK_EQ(nested.size(), 3U);
  for (const Expectation& expected : nested) {
    StackJob job{module, &expected};
    const HANDLE thread =
        CreateThread(nullptr, kShellWorkerStack, RenderOnThisThread, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!KVD_CHECK(thread != nullptr)) continue;
    KVD_CHECK_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD exitCode = STILL_ACTIVE;
    KVD_CHECK(GetExitCodeThread(thread, &exitCode));
    KVD_CHECK_EQ(exitCode, 0UL);
    CloseHandle(thread);
  }
  KVD_CHECK(FreeLibrary(module));
  return ExitStatus();
}

int CheckUnloadCycles(const std::filesystem::path& expectationsDir) {
  const std::vector<std::uint8_t> valid = ReadFileBytes(expectationsDir / "square-stored.kvd");
  const std::vector<std::uint8_t> notANumber = ReadFileBytes(expectationsDir / "size-not-a-number.kvd");
  const DWORD freeIndexBefore = ProbeFreeTlsIndex();
  int cycles = 0;
  std::size_t handlesBefore = 0;
  while (cycles < kUnloadCycles && LoadRenderUnload(valid, notANumber)) {
    // The first cycle opens what the process keeps for good.
    if (++cycles == 1) handlesBefore = CountOpenHandles();
  }
  KVD_CHECK_EQ(cycles, kUnloadCycles);
  KVD_CHECK_EQ(ProbeFreeTlsIndex(), freeIndexBefore);
  KVD_CHECK_EQ(CountOpenHandles(), handlesBefore);
  std::printf("%d cycles of load, render and unload\n", cycles);
  return ExitStatus();
}

}  // namespace kvd::wine
