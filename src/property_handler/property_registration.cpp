#include "property_handler/property_registration.h"

#include <array>
#include <string_view>

#include "property_handler/kvd_property_handler.h"

namespace kvd {
namespace {

constexpr WCHAR kPropertyHandlerListing[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.kvd";
constexpr WCHAR kFileTypeAssociation[] = L"SystemFileAssociations\\.kvd";

struct PropertyList {
  const WCHAR* valueName;
  const WCHAR* properties;
};

// A list names every property Explorer shows there, so each one repeats what
// Explorer shows for any file beside the canvas size. "*" leaves the
// dimensions out of the pane and the tooltip, rather than showing them empty,
// for a document that declares no canvas size.
constexpr std::array kPropertyLists = {
    PropertyList{L"FullDetails",
                 L"prop:System.PropGroup.Image;System.Image.Dimensions;System.Image.HorizontalSize;"
                 L"System.Image.VerticalSize;System.PropGroup.FileSystem;System.ItemNameDisplay;"
                 L"System.ItemTypeText;System.ItemFolderPathDisplay;System.Size;System.DateCreated;"
                 L"System.DateModified;System.FileAttributes;System.OfflineAvailability;System.OfflineStatus;"
                 L"System.SharedWith;System.FileOwner;System.ComputerName"},
    PropertyList{L"PreviewDetails", L"prop:*System.Image.Dimensions;System.DateModified;System.Size;System.DateCreated"},
    PropertyList{L"InfoTip", L"prop:System.ItemTypeText;*System.Image.Dimensions;System.Size;System.DateModified"},
};

// The machine's handler for .kvd, kept by the class's own classes key. Each
// registry view has its own, as it has its own class key.
const SharedValue kListingValue{HKEY_LOCAL_MACHINE, kPropertyHandlerListing, nullptr, L"PropertyHandler", false};

// A list's value below classes, kept under its own name.
SharedValue ListValue(HKEY classes, const PropertyList& list) {
  return {classes, kFileTypeAssociation, list.valueName, list.valueName, true};
}

// Room for the longest of our lists; a longer value is not ours.
constexpr std::size_t kListCapacity = 1024;

// Whether the value holds exactly text; false when it cannot be read.
bool ValueHolds(HKEY key, const WCHAR* valueName, std::wstring_view text) {
  std::array<WCHAR, kListCapacity> held{};
  DWORD bytes = sizeof held;
  DWORD type = 0;
  if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(held.data()), &bytes) !=
      ERROR_SUCCESS) {
    return false;
  }
  const std::wstring_view read(held.data(), bytes / sizeof(WCHAR));
  return type == REG_SZ && read.substr(0, read.find(L'\0')) == text;
}

// Nothing to delete is no failure: a half-removed registration can still be removed.
HRESULT AbsentIsDone(HRESULT result) {
  return result == HResultFromWin32(ERROR_FILE_NOT_FOUND) ? S_OK : result;
}

bool KeyIsEmpty(HKEY key) {
  DWORD subkeys = 0;
  DWORD values = 0;
  return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                          nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys == 0 && values == 0;
}

}  // namespace

// Windows runs property handlers in its isolated surrogate process unless the
// class opts out (DisableProcessIsolation); this one does not: a guest that
// reads hostile files belongs outside Explorer.
const ServerClass kPropertyHandlerClass{
    CLSID_KvdPropertyHandler,
    L"KvdPropertyDll.KvdPropertyHandler Class",
    L"KvdThumb canvas size of .kvd documents",
    nullptr,
    nullptr,
};

HRESULT WritePropertyHandlerListing() {
  RegistryTextBuffer classId{};
  ProduceClassIdText(CLSID_KvdPropertyHandler, classId);
  return TakeOverValue(HKEY_CLASSES_ROOT, CLSID_KvdPropertyHandler, kListingValue, classId.data());
}

HRESULT DeletePropertyHandlerListing() {
  return AbsentIsDone(GiveBackOrDeleteHandler(HKEY_CLASSES_ROOT, CLSID_KvdPropertyHandler, kListingValue));
}

HRESULT WritePropertyLists(HKEY classes) {
  for (const PropertyList& list : kPropertyLists) {
    const HRESULT result = TakeOverValue(classes, CLSID_KvdPropertyHandler, ListValue(classes, list), list.properties);
    if (Failed(result)) return result;
  }
  return S_OK;
}

HRESULT DeletePropertyLists(HKEY classes) {
  HKEY key = nullptr;
  const HRESULT opened =
      HResultFromWin32(RegOpenKeyExW(classes, kFileTypeAssociation, 0, KEY_READ | KEY_SET_VALUE, &key));
  if (Failed(opened)) return AbsentIsDone(opened);
  HRESULT deleted = S_OK;
  for (const PropertyList& list : kPropertyLists) {
    if (Failed(deleted)) break;
    const SharedValue shared = ListValue(classes, list);
    bool left = false;
    deleted = LeaveToOtherBitness(classes, CLSID_KvdPropertyHandler, shared, left);
    if (Failed(deleted) || left || !ValueHolds(key, list.valueName, list.properties)) continue;
    bool givenBack = false;
    deleted = GiveBackValue(classes, CLSID_KvdPropertyHandler, shared, givenBack);
    if (!Failed(deleted) && !givenBack) deleted = HResultFromWin32(RegDeleteValueW(key, list.valueName));
  }
  const bool empty = KeyIsEmpty(key);
  RegCloseKey(key);
  if (Failed(deleted)) return deleted;
  return empty ? HResultFromWin32(RegDeleteKeyW(classes, kFileTypeAssociation)) : S_OK;
}

}  // namespace kvd
