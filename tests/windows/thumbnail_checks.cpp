// Thumbnails as the shell asks for them: the provider created through the
// registry in a single-threaded apartment, handed a memory stream or a file
// stream, and its bitmap compared with the native pipeline's bits.

#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "check.h"
#include "expectations.h"
#include "failing_stream.h"
#include "shell_host.h"
#include "shell_module/module_state.h"

namespace kvd::wine {
namespace {

ComRef<IStream> FileStream(const std::filesystem::path& path) {
  IStream* stream = nullptr;
  KVD_CHECK_EQ(SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                      nullptr, &stream),
               S_OK);
  return ComRef<IStream>(stream);
}

ComRef<IInitializeWithStream> NewProvider() {
  IInitializeWithStream* provider = nullptr;
  KVD_CHECK_EQ(CoCreateInstance(CLSID_KvdThumbnailProvider, nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IInitializeWithStream), reinterpret_cast<void**>(&provider)),
               S_OK);
  return ComRef<IInitializeWithStream>(provider);
}

void CheckRendered(const Expectation& expected, ComRef<IStream> stream, const std::string& how) {
  const ComRef<IInitializeWithStream> provider = NewProvider();
  if (!KVD_CHECK(provider != nullptr && stream != nullptr)) return;
  KVD_CHECK_EQ(provider->Initialize(stream.get(), STGM_READ), S_OK);
  const Thumbnail thumbnail = GetThumbnail(provider.get(), expected.cx);
  KVD_CHECK_EQ(thumbnail.result, S_OK);
  KVD_CHECK_EQ(thumbnail.alpha, WTSAT_ARGB);
  CheckSameBits(thumbnail.bits, expected, how);
}

// A second Initialize is refused and the first stream stays the one read.
void CheckSecondInitialize(const Expectation& expected) {
  const ComRef<IInitializeWithStream> provider = NewProvider();
  const ComRef<IStream> first = FileStream(expected.document);
  const ComRef<IStream> second = MemoryStream({'n', 'o', 't', ' ', 'k', 'v', 'd', '!'});
  if (!KVD_CHECK(provider != nullptr && first != nullptr && second != nullptr)) return;
  KVD_CHECK_EQ(provider->Initialize(first.get(), STGM_READ), S_OK);
  KVD_CHECK_EQ(provider->Initialize(second.get(), STGM_READ), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
  CheckSameBits(GetThumbnail(provider.get(), expected.cx).bits, expected, "second Initialize refused");
}

void CheckWithoutStream() {
  const ComRef<IInitializeWithStream> provider = NewProvider();
  if (!KVD_CHECK(provider != nullptr)) return;
  const Thumbnail thumbnail = GetThumbnail(provider.get(), 16);
  KVD_CHECK_EQ(thumbnail.result, S_OK);
  KVD_CHECK_EQ(thumbnail.alpha, WTSAT_ARGB);
  KVD_CHECK(thumbnail.bits == std::vector<std::uint8_t>(16 * 16 * 4, 0));
}

// A read that fails at any read gives the stream's own result and no bitmap,
// so that the shell keeps no picture; a seek that fails still gives one.
void CheckFailedReads(const Expectation& expected) {
  const std::vector<std::uint8_t> document = ReadFileBytes(expected.document);
  for (const bool failSeek : {false, true}) {
    for (int call = 1;; ++call) {
      const StreamFault fault = failSeek ? StreamFault{0, E_PENDING, call} : StreamFault{call, E_PENDING, 0};
      const ComRef<IStream> stream(new FailingStream(document, fault));
      const ComRef<IInitializeWithStream> provider = NewProvider();
      if (!KVD_CHECK(provider != nullptr)) return;
      KVD_CHECK_EQ(provider->Initialize(stream.get(), STGM_READ), S_OK);
      const Thumbnail thumbnail = GetThumbnail(provider.get(), expected.cx);
      const bool struck = static_cast<FailingStream*>(stream.get())->Struck();
      if (!KVD_CHECK_EQ(thumbnail.result, struck && !failSeek ? E_PENDING : S_OK)) {
        std::fprintf(stderr, "  %s %d failed\n", failSeek ? "seek" : "read", call);
      }
      if (!struck) break;
    }
  }
}

bool ModuleLoaded() { return GetModuleHandleW(L"KvdThumbDll.dll") != nullptr; }

// COM unloads the module once nothing of it is alive, and not before.
void CheckUnloadedWhenUnused() {
  {
    const ComRef<IInitializeWithStream> provider = NewProvider();
    CoFreeUnusedLibrariesEx(0, 0);
    KVD_CHECK(ModuleLoaded());
  }
  CoFreeUnusedLibrariesEx(0, 0);
  KVD_CHECK(!ModuleLoaded());
}

}  // namespace

ComRef<IStream> MemoryStream(const std::vector<std::uint8_t>& bytes) {
  return ComRef<IStream>(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
}

Thumbnail GetThumbnail(IInitializeWithStream* provider, std::uint32_t cx) {
  Thumbnail thumbnail;
  IThumbnailProvider* thumbnails = nullptr;
  if (!KVD_CHECK_EQ(provider->QueryInterface(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(&thumbnails)),
                    S_OK)) {
    return thumbnail;
  }
  HBITMAP bitmap = nullptr;
  thumbnail.result = thumbnails->GetThumbnail(cx, &bitmap, &thumbnail.alpha);
  thumbnails->Release();
  // Only a failure comes without a bitmap.
  if (!KVD_CHECK((bitmap != nullptr) == SUCCEEDED(thumbnail.result)) || bitmap == nullptr) return thumbnail;

  DIBSECTION section{};
  KVD_CHECK_EQ(GetObjectW(bitmap, sizeof section, &section), static_cast<int>(sizeof section));
  const auto edge = static_cast<LONG>(cx);
  KVD_CHECK_EQ(section.dsBm.bmWidth, edge);
  KVD_CHECK_EQ(section.dsBm.bmHeight, edge);
  KVD_CHECK_EQ(section.dsBm.bmBitsPixel, 32);
  KVD_CHECK_EQ(section.dsBmih.biHeight, edge);  // positive: bottom-up
  KVD_CHECK_EQ(section.dsBmih.biCompression, static_cast<DWORD>(BI_RGB));
  if (KVD_CHECK(section.dsBm.bmBits != nullptr) && section.dsBm.bmWidth == edge && section.dsBm.bmHeight == edge) {
    const auto* bits = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
    thumbnail.bits.assign(bits, bits + std::size_t{cx} * cx * 4);
  }
  KVD_CHECK(DeleteObject(bitmap));
  return thumbnail;
}

int CheckThumbnails(const std::filesystem::path& expectationsDir) {
  KVD_CHECK_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  if (!KVD_CHECK(NewProvider() != nullptr)) {  // every check below would fail the same way
    CoUninitialize();
    return ExitStatus();
  }
  const std::vector<Expectation> expectations = ReadExpectations(expectationsDir);
  for (const Expectation& expected : expectations) {
    CheckRendered(expected, MemoryStream(ReadFileBytes(expected.document)), "memory stream");
    CheckRendered(expected, FileStream(expected.document), "file stream");
  }
  std::printf("%zu thumbnails compared, each from a memory and a file stream\n", expectations.size());
  // A preview large enough that the checkerboard cannot look the same.
  const auto large = std::find_if(expectations.begin(), expectations.end(),
                                  [](const Expectation& expected) { return expected.cx >= 96; });
  if (KVD_CHECK(large != expectations.end())) {
    CheckSecondInitialize(*large);
    CheckFailedReads(*large);
  }
  CheckWithoutStream();
  CheckUnloadedWhenUnused();
  CoUninitialize();
  return ExitStatus();
}

}  // namespace kvd::wine
