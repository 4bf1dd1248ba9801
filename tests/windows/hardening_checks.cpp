// The DLL under stress, loaded directly as COM loads it: the fuzz regressions
// of the pipeline replayed through the provider, and providers made and used
// on eight threads at once (Win32 threads: this toolchain's thread model has
// no std::thread).

#include <windows.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "check.h"
#include "expectations.h"
#include "pipeline_input.h"
#include "shell_host.h"
#include "shell_module/module_state.h"

namespace kvd::wine {
namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

struct Module {
  HMODULE dll = nullptr;
  GetClassObjectFunction getClassObject = nullptr;
  CanUnloadNowFunction canUnloadNow = nullptr;
};

Module LoadModule() {
  Module module;
  module.dll = LoadLibraryW(ModulePath().c_str());
  if (!KVD_CHECK(module.dll != nullptr)) return module;
  module.getClassObject = ModuleExport<GetClassObjectFunction>(module.dll, "DllGetClassObject");
  module.canUnloadNow = ModuleExport<CanUnloadNowFunction>(module.dll, "DllCanUnloadNow");
  KVD_CHECK(module.getClassObject != nullptr && module.canUnloadNow != nullptr);
  return module;
}

struct Rendered {
  HRESULT result = E_FAIL;
  std::vector<std::uint8_t> bits;  // cx * cx * 4 bytes when the bitmap was a cx x cx, 32-bit section
};

// One request as the shell makes it, on the calling thread. Reports no check
// itself, so that worker threads can judge the answer.
Rendered Render(const Module& module, const std::vector<std::uint8_t>& document, std::uint32_t cx) {
  Rendered rendered;
  IClassFactory* factory = nullptr;
  rendered.result = module.getClassObject(CLSID_KvdThumbnailProvider, __uuidof(IClassFactory),
                                          reinterpret_cast<void**>(&factory));
  if (rendered.result != S_OK) return rendered;
  IInitializeWithStream* provider = nullptr;
  rendered.result =
      factory->CreateInstance(nullptr, __uuidof(IInitializeWithStream), reinterpret_cast<void**>(&provider));
  factory->Release();
  if (rendered.result != S_OK) return rendered;
  IStream* stream = SHCreateMemStream(document.data(), static_cast<UINT>(document.size()));
  IThumbnailProvider* thumbnails = nullptr;
  rendered.result = stream == nullptr ? E_OUTOFMEMORY : provider->Initialize(stream, STGM_READ);
  if (rendered.result == S_OK) {
    rendered.result =
        provider->QueryInterface(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(&thumbnails));
  }
  if (rendered.result == S_OK) {
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    rendered.result = thumbnails->GetThumbnail(cx, &bitmap, &alpha);
    DIBSECTION section{};
    if (bitmap != nullptr && GetObjectW(bitmap, sizeof section, &section) == static_cast<int>(sizeof section) &&
        section.dsBm.bmWidth == static_cast<LONG>(cx) && section.dsBm.bmHeight == static_cast<LONG>(cx) &&
        section.dsBm.bmBitsPixel == 32 && section.dsBm.bmBits != nullptr) {
      const auto* bits = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
      rendered.bits.assign(bits, bits + std::size_t{cx} * cx * 4);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    thumbnails->Release();
  }
  if (stream != nullptr) stream->Release();
  provider->Release();
  return rendered;
}

constexpr int kThreads = 8;
constexpr int kRendersPerThread = 12;

struct Worker {
  const Module* module = nullptr;
  const std::vector<Expectation>* expectations = nullptr;
  const std::vector<std::vector<std::uint8_t>>* documents = nullptr;
  int first = 0;
  int failures = 0;
};

DWORD WINAPI RenderMany(LPVOID parameter) {
  Worker& worker = *static_cast<Worker*>(parameter);
  const std::size_t count = worker.expectations->size();
  for (int i = 0; i < kRendersPerThread; ++i) {
    const std::size_t which = static_cast<std::size_t>(worker.first + i) % count;
    const Expectation& expected = (*worker.expectations)[which];
    const Rendered rendered = Render(*worker.module, (*worker.documents)[which], expected.cx);
    if (rendered.result != S_OK || rendered.bits != expected.bits) ++worker.failures;
  }
  return 0;
}

}  // namespace

int CheckConcurrentProviders(const std::filesystem::path& expectationsDir) {
  const Module module = LoadModule();
  const std::vector<Expectation> expectations = ReadExpectations(expectationsDir);
  if (module.getClassObject == nullptr || !KVD_CHECK(!expectations.empty())) return ExitStatus();
  std::vector<std::vector<std::uint8_t>> documents;
  for (const Expectation& expected : expectations) documents.push_back(ReadFileBytes(expected.document));

  std::vector<Worker> workers(kThreads);
  std::vector<HANDLE> threads;
  for (int t = 0; t < kThreads; ++t) {
    workers[static_cast<std::size_t>(t)] = {&module, &expectations, &documents, t * 3, 0};
  }
  for (Worker& worker : workers) {
    const HANDLE thread = CreateThread(nullptr, 0, RenderMany, &worker, 0, nullptr);
    if (KVD_CHECK(thread != nullptr)) threads.push_back(thread);
  }
  KVD_CHECK_EQ(WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE),
               WAIT_OBJECT_0);
  for (const HANDLE thread : threads) CloseHandle(thread);
  for (const Worker& worker : workers) KVD_CHECK_EQ(worker.failures, 0);
  KVD_CHECK_EQ(module.canUnloadNow(), S_OK);
  std::printf("%d threads rendered %d thumbnails each\n", kThreads, kRendersPerThread);
  KVD_CHECK(FreeLibrary(module.dll));
  return ExitStatus();
}

int CheckFuzzRegressions(const std::filesystem::path& regressionsDir) {
  const Module module = LoadModule();
  if (module.getClassObject == nullptr || !KVD_CHECK(std::filesystem::is_directory(regressionsDir))) {
    return ExitStatus();
  }
  std::vector<std::filesystem::path> inputs;
  for (const auto& entry : std::filesystem::directory_iterator(regressionsDir)) {
    if (entry.is_regular_file() && entry.path().filename().string().front() != '.') inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  for (const std::filesystem::path& path : inputs) {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    const fuzz::PipelineInput input = fuzz::SplitPipelineInput(bytes);
    const std::vector<std::uint8_t> document(input.document.begin(), input.document.end());
    const Rendered rendered = Render(module, document, input.cx);
    if (!KVD_CHECK_EQ(rendered.result, S_OK) || !KVD_CHECK_EQ(rendered.bits.size(), std::size_t{input.cx} * input.cx * 4)) {
      std::fprintf(stderr, "  replaying %s\n", path.string().c_str());
    }
  }
  KVD_CHECK_EQ(module.canUnloadNow(), S_OK);
  std::printf("%zu pipeline regressions replayed through the DLL\n", inputs.size());
  KVD_CHECK(FreeLibrary(module.dll));
  return ExitStatus();
}

}  // namespace kvd::wine
