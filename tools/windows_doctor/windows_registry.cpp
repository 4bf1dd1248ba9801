#include "windows_registry.h"

#include <array>
#include <vector>

#include "terminal_text.h"

namespace kvd::windoctor {
namespace {

constexpr wchar_t kUserClasses[] = L"Software\\Classes\\";
constexpr wchar_t kUserClasses32[] = L"Software\\Classes\\Wow6432Node\\";
constexpr wchar_t kFileExtension[] = L".kvd";

const RegistryView kView64{"64-bit", kUserClasses, sizeof(void*) == 8};
const RegistryView kView32{"32-bit", kUserClasses32, sizeof(void*) == 4};

// Every path names its view in full: the 64-bit doctor sees no redirection.
constexpr REGSAM kRead = KEY_READ | KEY_WOW64_64KEY;

// RRF_RT_REG_SZ takes REG_EXPAND_SZ values too, expanded.
std::optional<std::vector<BYTE>> ReadValue(HKEY root, const std::wstring& keyPath, const wchar_t* valueName,
                                           DWORD flags) {
  DWORD size = 0;
  if (RegGetValueW(root, keyPath.c_str(), valueName, flags, nullptr, nullptr, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<BYTE> data(size + sizeof(wchar_t));
  size = static_cast<DWORD>(data.size());
  if (RegGetValueW(root, keyPath.c_str(), valueName, flags, nullptr, data.data(), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  data.resize(size);
  return data;
}

}  // namespace

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
  return result;
}

std::string Printable(const std::wstring& text) { return TerminalText(Utf8(text)); }

std::string ErrorText(HRESULT result) {
  std::array<wchar_t, 512> message{};
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      static_cast<DWORD>(result), 0, message.data(), message.size(), nullptr);
  std::wstring text(message.data(), length);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  std::array<char, 16> number{};
  std::snprintf(number.data(), number.size(), "0x%08lX", static_cast<unsigned long>(result));
  return text.empty() ? std::string("error ") + number.data() : Printable(text) + " (" + number.data() + ")";
}

const RegistryView& View64() { return kView64; }
const RegistryView& View32() { return kView32; }
const RegistryView& OwnView() { return sizeof(void*) == 8 ? kView64 : kView32; }

std::optional<std::wstring> ReadText(HKEY root, const std::wstring& keyPath, const wchar_t* valueName) {
  const auto data = ReadValue(root, keyPath, valueName, RRF_RT_REG_SZ);
  if (!data) return std::nullopt;
  std::wstring text(reinterpret_cast<const wchar_t*>(data->data()), data->size() / sizeof(wchar_t));
  return text.substr(0, text.find(L'\0'));
}

std::optional<DWORD> ReadDword(HKEY root, const std::wstring& keyPath, const wchar_t* valueName) {
  const auto data = ReadValue(root, keyPath, valueName, RRF_RT_REG_DWORD);
  if (!data || data->size() != sizeof(DWORD)) return std::nullopt;
  return *reinterpret_cast<const DWORD*>(data->data());
}

std::wstring RootName(HKEY root) { return root == HKEY_CURRENT_USER ? L"HKCU" : L"HKLM"; }

std::optional<Found> ClassesText(const wchar_t* prefix, const std::wstring& keyPath, const wchar_t* valueName) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    const std::wstring path = prefix + keyPath;
    if (auto text = ReadText(root, path, valueName)) return Found{*text, RootName(root) + L"\\" + path};
  }
  return std::nullopt;
}

std::optional<Found> FindShellexHandler(const std::wstring& interfaceId) {
  std::vector<std::wstring> fileTypes;
  const auto progId = ClassesText(kUserClasses, kFileExtension, nullptr);
  if (progId && !progId->text.empty()) fileTypes.push_back(progId->text);
  fileTypes.emplace_back(kFileExtension);
  fileTypes.emplace_back(std::wstring(L"SystemFileAssociations\\") + kFileExtension);
  for (const std::wstring& fileType : fileTypes) {
    if (auto handler = ClassesText(kUserClasses, fileType + L"\\shellex\\" + interfaceId, nullptr)) return handler;
  }
  return std::nullopt;
}

std::optional<ClassServer> FindClassServer(const std::wstring& classId, const RegistryView& view) {
  const std::wstring keyPath = std::wstring(view.classesPrefix) + L"CLSID\\" + classId + L"\\InprocServer32";
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, keyPath.c_str(), 0, kRead, &key) != ERROR_SUCCESS) continue;
    RegCloseKey(key);
    return ClassServer{ReadText(root, keyPath, nullptr).value_or(L""),
                       ReadText(root, keyPath, L"ThreadingModel").value_or(L""), RootName(root) + L"\\" + keyPath,
                       root == HKEY_CURRENT_USER};
  }
  return std::nullopt;
}

std::wstring ClassIdText(const CLSID& clsid) {
  std::array<wchar_t, 64> text{};
  StringFromGUID2(clsid, text.data(), static_cast<int>(text.size()));
  return text.data();
}

}  // namespace kvd::windoctor
