#include "preview_handler/preview_registration.h"

#include "preview_handler/kvd_preview_handler.h"

namespace kvd {
namespace {

constexpr WCHAR kDisplayName[] = L"KvdThumb preview of .kvd documents";
constexpr WCHAR kPreviewHandlerList[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers";

}  // namespace

// The shell looks for preview handlers under the IPreviewHandler identifier,
// in lower case, and runs them in the preview host process named by the
// AppID, which the build chooses for the module's bitness.
const ServerClass kPreviewHandlerClass{
    CLSID_KvdPreviewHandler,
    L"KvdPreviewDll.KvdPreviewHandler Class",
    kDisplayName,
    KVD_PREVIEW_HOST_APPID,
    L"%s\\shellex\\{8895b1c6-b41f-4c1c-a562-0d564250836f}",
};

HRESULT WritePreviewHandlerListing() {
  RegistryTextBuffer classId{};
  ProduceClassIdText(CLSID_KvdPreviewHandler, classId);
  HKEY key = nullptr;
  const HRESULT created = HResultFromWin32(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPreviewHandlerList, 0, nullptr,
                                                           REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                                                           nullptr));
  if (Failed(created)) return created;
  const LONG set = RegSetValueExW(key, classId.data(), 0, REG_SZ, reinterpret_cast<const BYTE*>(kDisplayName),
                                  sizeof kDisplayName);
  RegCloseKey(key);
  return HResultFromWin32(set);
}

HRESULT DeletePreviewHandlerListing() {
  RegistryTextBuffer classId{};
  ProduceClassIdText(CLSID_KvdPreviewHandler, classId);
  HKEY key = nullptr;
  const HRESULT opened =
      HResultFromWin32(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPreviewHandlerList, 0, KEY_SET_VALUE, &key));
  if (Failed(opened)) return opened;
  const LONG deleted = RegDeleteValueW(key, classId.data());
  RegCloseKey(key);
  return HResultFromWin32(deleted);
}

}  // namespace kvd
