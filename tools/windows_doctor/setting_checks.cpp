// The settings and policies that hide thumbnails, where a file lies, and the
// thumbnail cache.

#include <shlwapi.h>

#include <array>
#include <vector>

#include "checks.h"
#include "cloud_files.h"
#include "windows_registry.h"

namespace kvd::windoctor {
namespace {

constexpr wchar_t kAdvanced[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
constexpr wchar_t kIconsOnly[] = L"IconsOnly";
constexpr wchar_t kShowPreviewHandlers[] = L"ShowPreviewHandlers";
constexpr wchar_t kNetworkPolicy[] = L"DisableThumbnailsOnNetworkFolders";

// Group policy writes Explorer's policies to either key, for a user or for
// the machine.
constexpr std::array kPolicyKeys = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
    L"Software\\Policies\\Microsoft\\Windows\\Explorer",
};

struct Policy {
  const wchar_t* name;
  const char* effect;
};
constexpr std::array kPolicies = {
    Policy{L"DisableThumbnails", "Explorer shows icons instead of thumbnails everywhere"},
    Policy{kNetworkPolicy, "Explorer shows icons instead of thumbnails in network folders"},
    Policy{L"NoThumbnailCache", "Explorer keeps no thumbnails, so it draws each one anew whenever it shows it"},
};

// Where each policy of that name is on.
std::vector<std::wstring> PolicyPlaces(const wchar_t* name) {
  std::vector<std::wstring> places;
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    for (const wchar_t* key : kPolicyKeys) {
      if (ReadDword(root, key, name).value_or(0) != 0) places.push_back(RootName(root) + L"\\" + key);
    }
  }
  return places;
}

bool SetIconsOnlyOff() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kAdvanced, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD off = 0;
  const LONG set = RegSetValueExW(key, kIconsOnly, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof off);
  RegCloseKey(key);
  return set == ERROR_SUCCESS;
}

// Answers whether the setting was changed.
bool CheckIconsOnly(doctor::Report& report, bool fix) {
  const std::string where = "IconsOnly in HKCU\\" + Utf8(kAdvanced);
  if (ReadDword(HKEY_CURRENT_USER, kAdvanced, kIconsOnly).value_or(0) == 0) {
    report.Ok("settings: Explorer shows thumbnails (\"Always show icons, never thumbnails\" is off)");
    return false;
  }
  if (fix && SetIconsOnlyOff()) {
    report.Fixed("settings: turned \"Always show icons, never thumbnails\" off for you (" + where + ")");
    return true;
  }
  report.Wrong("settings: Explorer is set to \"Always show icons, never thumbnails\" (" + where + ")",
               fix ? "the setting could not be written; untick it in File Explorer Options, View"
                   : "run kvd-doctor --fix, or untick it in File Explorer Options, View");
  return false;
}

void CheckPreviewPane(doctor::Report& report) {
  if (ReadDword(HKEY_CURRENT_USER, kAdvanced, kShowPreviewHandlers).value_or(1) != 0) {
    report.Ok("settings: the preview pane shows previews (\"Show preview handlers in preview pane\" is on)");
  } else {
    report.Wrong("settings: \"Show preview handlers in preview pane\" is off (ShowPreviewHandlers in HKCU\\" +
                     Utf8(kAdvanced) + ")",
                 "tick it in File Explorer Options, View");
  }
}

bool OnNetwork(const std::wstring& file) {
  if (PathIsUNCW(file.c_str())) return true;
  std::array<wchar_t, MAX_PATH> root{};
  return GetVolumePathNameW(file.c_str(), root.data(), MAX_PATH) && GetDriveTypeW(root.data()) == DRIVE_REMOTE;
}

}  // namespace

bool CheckSettings(doctor::Report& report, bool fix) {
  const bool changed = CheckIconsOnly(report, fix);
  CheckPreviewPane(report);
  bool anyPolicy = false;
  for (const Policy& policy : kPolicies) {
    for (const std::wstring& place : PolicyPlaces(policy.name)) {
      anyPolicy = true;
      const std::string found = "policies: " + Utf8(policy.name) + " is set in " + Utf8(place) + ": " + policy.effect;
      // The network-folder policy matters only for a file on the network (CheckPlace).
      if (policy.name == kNetworkPolicy) {
        report.Ok(found);
      } else {
        report.Wrong(found, "a policy: ask your administrator to lift it");
      }
    }
  }
  if (!anyPolicy) report.Ok("policies: none turns thumbnails off");
  return changed;
}

bool CheckPlace(doctor::Report& report, const std::wstring& file) {
  const std::string name = "place: " + Printable(file);
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && IsOnlineOnly(attributes)) {
    report.Wrong(name + " is an online-only cloud file: its sync program draws its thumbnail, never KvdThumb",
                 "choose \"Always keep on this device\" for it, so that KvdThumb draws it");
    return false;
  }
  if (!OnNetwork(file)) {
    report.Ok(name + " lies on a local drive");
  } else if (const auto places = PolicyPlaces(kNetworkPolicy); !places.empty()) {
    report.Wrong(name + " lies in a network folder, where the policy " + Utf8(kNetworkPolicy) + " (" +
                     Utf8(places.front()) + ") turns thumbnails off",
                 "a policy: ask your administrator to lift it, or copy the file to a local drive");
  } else {
    report.Ok(name + " lies in a network folder, where thumbnails are allowed");
  }
  return true;
}

void AdviseOnCache(doctor::Report& report, const std::wstring& file) {
  const std::string which = file.empty() ? "a .kvd file" : Printable(file);
  report.Ok("cache: if Explorer still shows an icon for " + which +
            ", it shows what it cached before; clear the thumbnail cache with Disk Cleanup (Thumbnails)");
}

}  // namespace kvd::windoctor
