#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/stand_in/control.h"
#include "platform/stand_in/registry_state.h"
#include "platform/stand_in/win32.h"

namespace {

constexpr char16_t kDefaultModulePath[] = u"C:\\Program Files\\KvdThumb\\KvdThumbDll.dll";

std::u16string g_modulePath = kDefaultModulePath;
std::optional<DWORD> g_modulePathFailure;
bool g_dibSectionsFail = false;
std::vector<kvd::stand_in::ShellNotification> g_shellNotifications;
std::vector<HMODULE> g_threadCallsDisabled;
thread_local DWORD g_lastError = 0;

std::uint64_t DibRowBytes(const BITMAPINFOHEADER& header) {
  const std::uint64_t bitsPerRow = static_cast<std::uint64_t>(header.biWidth) * header.biBitCount;
  return (bitsPerRow + 31) / 32 * 4;  // rows are padded to whole 32-bit words
}

}  // namespace

HRESULT QISearch(void* object, const QITAB* table, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  const QITAB* found = nullptr;
  for (const QITAB* entry = table; entry->piid != nullptr && found == nullptr; ++entry) {
    if (*entry->piid == riid) found = entry;
  }
  if (found == nullptr && riid == IID_IUnknown && table->piid != nullptr) found = table;
  if (found == nullptr) {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  auto* unknown = reinterpret_cast<IUnknown*>(static_cast<char*>(object) + found->dwOffset);
  unknown->AddRef();
  *ppv = unknown;
  return S_OK;
}

int StringFromGUID2(REFGUID guid, LPOLESTR text, int capacity) {
  constexpr int kGuidTextLength = 38;  // {8-4-4-4-12}
  if (capacity <= kGuidTextLength) return 0;
  char narrow[kGuidTextLength + 1];
  std::snprintf(narrow, sizeof narrow, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                static_cast<unsigned>(guid.Data3), static_cast<unsigned>(guid.Data4[0]),
                static_cast<unsigned>(guid.Data4[1]), static_cast<unsigned>(guid.Data4[2]),
                static_cast<unsigned>(guid.Data4[3]), static_cast<unsigned>(guid.Data4[4]),
                static_cast<unsigned>(guid.Data4[5]), static_cast<unsigned>(guid.Data4[6]),
                static_cast<unsigned>(guid.Data4[7]));
  for (int i = 0; i <= kGuidTextLength; ++i) text[i] = static_cast<WCHAR>(narrow[i]);
  return kGuidTextLength + 1;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT, void** bits, HANDLE, DWORD) {
  *bits = nullptr;
  const BITMAPINFOHEADER& header = info->bmiHeader;
  if (g_dibSectionsFail || header.biWidth <= 0 || header.biHeight == 0 || header.biBitCount == 0) return nullptr;
  const std::uint64_t size = DibRowBytes(header) * static_cast<std::uint64_t>(std::llabs(header.biHeight));
  try {
    auto section = std::make_unique<DibSection>(
        DibSection{header, std::vector<BYTE>(size, kvd::stand_in::kUnwrittenDibByte)});
    *bits = section->bits.data();
    return section.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

BOOL DisableThreadLibraryCalls(HMODULE module) {
  g_threadCallsDisabled.push_back(module);
  return TRUE;
}

DWORD GetModuleFileNameW(HMODULE, LPWSTR path, DWORD capacity) {
  if (g_modulePathFailure) {
    g_lastError = *g_modulePathFailure;
    return 0;
  }
  if (capacity == 0) {
    g_lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  const std::size_t copied = std::min<std::size_t>(g_modulePath.size(), capacity - 1);
  g_modulePath.copy(path, copied);
  path[copied] = u'\0';
  if (copied < g_modulePath.size()) {
    g_lastError = ERROR_INSUFFICIENT_BUFFER;
    return capacity;
  }
  return static_cast<DWORD>(copied);
}

DWORD GetLastError() { return g_lastError; }

int lstrlenW(LPCWSTR text) {
  return text == nullptr ? 0 : static_cast<int>(std::char_traits<WCHAR>::length(text));
}

constexpr std::size_t kNotificationsRecordedWithoutAllocating = 16;

void SHChangeNotify(LONG event, UINT flags, LPCVOID item1, LPCVOID item2) {
  g_shellNotifications.push_back({event, flags, item1, item2});
}

namespace kvd::stand_in {

void Reset() {
  ResetRegistry();
  g_modulePath = kDefaultModulePath;
  g_modulePathFailure.reset();
  g_dibSectionsFail = false;
  g_shellNotifications.clear();
  // The real call never fails: recording the first few allocates nothing, so
  // that a test that makes allocations fail sees only the module's own.
  g_shellNotifications.reserve(kNotificationsRecordedWithoutAllocating);
  g_threadCallsDisabled.clear();
  g_lastError = 0;
}

void SetModulePath(std::u16string path) { g_modulePath = std::move(path); }

void FailModulePath(DWORD error) { g_modulePathFailure = error; }

void FailDibSections() { g_dibSectionsFail = true; }

const std::vector<ShellNotification>& ShellNotifications() { return g_shellNotifications; }

const std::vector<HMODULE>& ThreadCallsDisabled() { return g_threadCallsDisabled; }

}  // namespace kvd::stand_in
