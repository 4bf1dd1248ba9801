#include "shell_module/registration.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>

#include "shell_module/module_state.h"

namespace kvd {
namespace {

constexpr WCHAR kClassKeyFormat[] = KVD_WIDE("CLSID\\%s");
constexpr WCHAR kServerKeyFormat[] = KVD_WIDE("CLSID\\%s\\InprocServer32");
constexpr WCHAR kKeptKeyFormat[] = KVD_WIDE("CLSID\\%s\\Replaced");
// What a handler key below the file type held before ours.
constexpr WCHAR kKeptHandlerName[] = KVD_WIDE("Handler");
constexpr WideText kPlaceholder = KVD_WIDE("%s");

constexpr WCHAR kDisplayNameName[] = KVD_WIDE("DisplayName");
constexpr WCHAR kAppIdName[] = KVD_WIDE("AppID");
constexpr WCHAR kThreadingModelName[] = KVD_WIDE("ThreadingModel");
constexpr WCHAR kApartmentThreading[] = KVD_WIDE("Apartment");

// What the registry answers for a key or value that is not there.
constexpr HRESULT kMissing = HResultFromWin32(ERROR_FILE_NOT_FOUND);

// A 64-bit Windows keeps the class keys of 64-bit and of 32-bit modules in
// two registry views; a 32-bit Windows has one, which both flags open.
constexpr REGSAM kOwnView = 0;
constexpr std::array<REGSAM, 2> kBothViews = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

// A path that fills the buffer was cut short and would register a file that
// does not exist, so it is refused like any path too long for the buffer. A
// failure without a recorded reason must still fail, not pass as S_OK.
HRESULT GetModulePath(RegistryTextBuffer& path) {
  const DWORD length = GetModuleFileNameW(g_moduleHandle, path.data(), kRegistryTextCapacity);
  if (length == 0) return LastErrorOr(E_FAIL);
  if (length >= kRegistryTextCapacity) return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
  return S_OK;
}

}  // namespace

void ProduceClassIdText(const CLSID& clsid, RegistryTextBuffer& text) {
  StringFromGUID2(clsid, text.data(), static_cast<int>(text.size()));
}

namespace {

// The text read: up to its first NUL, or all of it when there is none.
WideText TextRead(const ProgIdBuffer& progId, DWORD bytesRead) {
  const std::size_t characters = std::min<std::size_t>(bytesRead / sizeof(WCHAR), progId.size());
  const WideText read(progId.data(), characters);
  return read.substr(0, read.find(WCHAR{0}));
}

// The key the thumbnail handler lives under: the ProgID that .kvd names, or
// .kvd itself when there is none to use. progId holds the text returned.
WideText HandlerFileType(HKEY classes, ProgIdBuffer& progId) {
  DWORD bytesRead = 0;
  if (Failed(ReadFileTypeDefault(classes, progId, bytesRead))) return kFileExtension;
  const WideText progIdText = TextRead(progId, bytesRead);
  return progIdText.empty() ? WideText(kFileExtension) : progIdText;
}

HRESULT DeleteClassesRootTree(HKEY classes, const WCHAR* keyPath) {
  return HResultFromWin32(RegDeleteTreeW(classes, keyPath));
}

LONG QueryDefaultText(HKEY key, ProgIdBuffer& text, DWORD& bytesRead) {
  bytesRead = kProgIdBufferBytes;
  return RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &bytesRead);
}

// Whether the handler key at keyPath names our class. Another program may
// have put its own handler there since we registered; that one is not ours
// to delete. Fails only when the key cannot be opened.
HRESULT HandlerIsOurs(HKEY classes, const CLSID& clsid, const WCHAR* keyPath, bool& ours) {
  HKEY key = nullptr;
  const HRESULT opened = HResultFromWin32(RegOpenKeyExW(classes, keyPath, 0, KEY_READ, &key));
  if (Failed(opened)) return opened;
  ProgIdBuffer handler{};
  DWORD bytesRead = 0;
  const LONG read = QueryDefaultText(key, handler, bytesRead);
  RegCloseKey(key);
  RegistryTextBuffer classId{};
  ProduceClassIdText(clsid, classId);
  ours = read == ERROR_SUCCESS && EqualIgnoringAsciiCase(TextRead(handler, bytesRead), classId.data());
  return S_OK;
}

// A registry value of any type and size, held without exceptions.
struct HeldValue {
  DWORD type = 0;
  DWORD size = 0;
  std::unique_ptr<BYTE[]> data;
};

HRESULT ReadHeldValue(HKEY root, const WCHAR* keyPath, const WCHAR* valueName, HeldValue& value,
                      REGSAM view = kOwnView) {
  HKEY key = nullptr;
  const HRESULT opened = HResultFromWin32(RegOpenKeyExW(root, keyPath, 0, KEY_READ | view, &key));
  if (Failed(opened)) return opened;
  DWORD size = 0;
  LONG read = RegQueryValueExW(key, valueName, nullptr, &value.type, nullptr, &size);
  if (read == ERROR_SUCCESS || read == ERROR_MORE_DATA) {
    // One byte more, so that an empty value has a buffer too.
    value.data.reset(new (std::nothrow) BYTE[size + 1]);
    value.size = size;
    read = value.data == nullptr
               ? ERROR_NOT_ENOUGH_MEMORY
               : RegQueryValueExW(key, valueName, nullptr, &value.type, value.data.get(), &value.size);
  }
  RegCloseKey(key);
  return HResultFromWin32(read);
}

HRESULT WriteHeldValue(HKEY root, const WCHAR* keyPath, const WCHAR* valueName, const HeldValue& value,
                       REGSAM view = kOwnView) {
  HKEY key = nullptr;
  const HRESULT created = HResultFromWin32(RegCreateKeyExW(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                           KEY_WRITE | view, nullptr, &key, nullptr));
  if (Failed(created)) return created;
  const LONG set = RegSetValueExW(key, valueName, 0, value.type, value.data.get(), value.size);
  RegCloseKey(key);
  return HResultFromWin32(set);
}

// Whether value is the REG_SZ text (in any case: class identifiers differ in
// case between writers).
bool HoldsText(const HeldValue& value, const WCHAR* text) {
  if (value.type != REG_SZ) return false;
  const WideText held(reinterpret_cast<const WCHAR*>(value.data.get()), value.size / sizeof(WCHAR));
  return EqualIgnoringAsciiCase(held.substr(0, held.find(WCHAR{0})), text);
}

// A path below the class key: format with clsid for "%s".
HRESULT FormatClassPath(RegistryTextBuffer& path, WideText format, const CLSID& clsid) {
  RegistryTextBuffer classId{};
  ProduceClassIdText(clsid, classId);
  return FormatRegistryPath(path, format, classId.data());
}

// Whether CLSID\{clsid} can be opened.
HRESULT OpenClassKey(HKEY classes, const ServerClass& served) {
  RegistryTextBuffer keyPath{};
  const HRESULT formatted = FormatClassPath(keyPath, kClassKeyFormat, served.clsid);
  if (Failed(formatted)) return formatted;
  HKEY key = nullptr;
  const HRESULT opened = HResultFromWin32(RegOpenKeyExW(classes, keyPath.data(), 0, KEY_READ, &key));
  if (!Failed(opened)) RegCloseKey(key);
  return opened;
}

// The handler key below the file type is one key for both views.
SharedValue HandlerValue(HKEY classes, const RegistryTextBuffer& keyPath) {
  return {classes, keyPath.data(), nullptr, kKeptHandlerName, true};
}

bool SameBytes(const HeldValue& a, const HeldValue& b) {
  return a.type == b.type && std::equal(a.data.get(), a.data.get() + a.size, b.data.get(), b.data.get() + b.size);
}

// Whether the module of the other bitness has our class registered too: both
// views hold it, with servers of different paths. One view, opened twice,
// holds the same path. Fails when a server that is there cannot be read.
HRESULT FindOtherBitness(HKEY classes, const CLSID& clsid, bool& registered) {
  registered = false;
  RegistryTextBuffer serverPath{};
  HRESULT result = FormatClassPath(serverPath, kServerKeyFormat, clsid);
  if (Failed(result)) return result;
  std::array<HeldValue, kBothViews.size()> servers;
  for (std::size_t i = 0; i < kBothViews.size(); ++i) {
    result = ReadHeldValue(classes, serverPath.data(), nullptr, servers[i], kBothViews[i]);
    if (result == kMissing) return S_OK;
    if (Failed(result)) return result;
  }
  registered = !SameBytes(servers[0], servers[1]);
  return S_OK;
}

// What our class key keeps of shared goes to the class key of each view that
// keeps none of its own.
HRESULT PassOnKeptValue(HKEY classes, const CLSID& clsid, const SharedValue& shared) {
  RegistryTextBuffer keptPath{};
  HRESULT result = FormatClassPath(keptPath, kKeptKeyFormat, clsid);
  if (Failed(result)) return result;
  HeldValue kept;
  result = ReadHeldValue(classes, keptPath.data(), shared.keptName, kept);
  if (result == kMissing) return S_OK;
  if (Failed(result)) return result;
  for (const REGSAM view : kBothViews) {
    HeldValue own;
    result = ReadHeldValue(classes, keptPath.data(), shared.keptName, own, view);
    if (result == kMissing) result = WriteHeldValue(classes, keptPath.data(), shared.keptName, kept, view);
    if (Failed(result)) return result;
  }
  return S_OK;
}

}  // namespace

bool EqualIgnoringAsciiCase(WideText a, WideText b) {
  const auto lower = [](WCHAR c) { return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c - 'A' + 'a') : c; };
  return std::ranges::equal(a, b, {}, lower, lower);
}

HRESULT FormatRegistryPath(RegistryTextBuffer& path, WideText format, WideText argument) {
  const std::size_t maxLength = path.size() - 1;
  std::size_t length = 0;
  auto append = [&](WideText piece) {
    const std::size_t room = length < maxLength ? maxLength - length : 0;
    piece.copy(path.data() + length, std::min(room, piece.size()));
    length += piece.size();
  };
  for (std::size_t start = 0;;) {
    const std::size_t placeholder = format.find(kPlaceholder, start);
    append(format.substr(start, placeholder - start));
    if (placeholder == WideText::npos) break;
    append(argument);
    start = placeholder + kPlaceholder.size();
  }
  path[std::min(length, maxLength)] = WCHAR{0};
  return length > maxLength ? HResultFromWin32(ERROR_INSUFFICIENT_BUFFER) : S_OK;
}

HRESULT SetClassesRootString(HKEY classes, const WCHAR* keyPath, const WCHAR* valueName, const WCHAR* text) {
  HKEY key = nullptr;
  const HRESULT created = HResultFromWin32(
      RegCreateKeyExW(classes, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr));
  if (Failed(created)) return created;
  const auto byteCount = static_cast<DWORD>((static_cast<std::size_t>(lstrlenW(text)) + 1) * sizeof(WCHAR));
  const LONG set = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), byteCount);
  RegCloseKey(key);
  return HResultFromWin32(set);
}

HRESULT ReadFileTypeDefault(HKEY classes, ProgIdBuffer& progId, DWORD& bytesRead) {
  HKEY key = nullptr;
  const HRESULT opened = HResultFromWin32(RegOpenKeyExW(classes, kFileExtension, 0, KEY_READ, &key));
  if (Failed(opened)) return opened;
  const LONG read = QueryDefaultText(key, progId, bytesRead);
  RegCloseKey(key);
  return HResultFromWin32(read);
}

HRESULT WriteServerClassKeys(HKEY classes, const ServerClass& served, const WCHAR* modulePath) {
  RegistryTextBuffer classId{};
  ProduceClassIdText(served.clsid, classId);
  RegistryTextBuffer keyPath{};
  HRESULT result = FormatRegistryPath(keyPath, kClassKeyFormat, classId.data());
  if (Failed(result)) return result;
  result = SetClassesRootString(classes, keyPath.data(), nullptr, served.className);
  if (Failed(result)) return result;
  if (served.displayName != nullptr) {
    result = SetClassesRootString(classes, keyPath.data(), kDisplayNameName, served.displayName);
    if (Failed(result)) return result;
  }
  if (served.appId != nullptr) {
    result = SetClassesRootString(classes, keyPath.data(), kAppIdName, served.appId);
    if (Failed(result)) return result;
  }
  result = FormatRegistryPath(keyPath, kServerKeyFormat, classId.data());
  if (Failed(result)) return result;
  result = SetClassesRootString(classes, keyPath.data(), nullptr, modulePath);
  if (Failed(result)) return result;
  return SetClassesRootString(classes, keyPath.data(), kThreadingModelName, kApartmentThreading);
}

HRESULT TakeOverValue(HKEY classes, const CLSID& clsid, const SharedValue& shared, const WCHAR* text) {
  HeldValue replaced;
  const HRESULT read = ReadHeldValue(shared.root, shared.keyPath, shared.valueName, replaced);
  if (Failed(read) && read != kMissing) return read;
  if (!Failed(read) && !HoldsText(replaced, text)) {
    RegistryTextBuffer keptPath{};
    HRESULT kept = FormatClassPath(keptPath, kKeptKeyFormat, clsid);
    if (!Failed(kept)) kept = WriteHeldValue(classes, keptPath.data(), shared.keptName, replaced);
    if (Failed(kept)) return kept;
  }
  return SetClassesRootString(shared.root, shared.keyPath, shared.valueName, text);
}

HRESULT GiveBackValue(HKEY classes, const CLSID& clsid, const SharedValue& shared, bool& givenBack) {
  givenBack = false;
  RegistryTextBuffer keptPath{};
  const HRESULT formatted = FormatClassPath(keptPath, kKeptKeyFormat, clsid);
  if (Failed(formatted)) return formatted;
  HeldValue kept;
  const HRESULT read = ReadHeldValue(classes, keptPath.data(), shared.keptName, kept);
  if (read == kMissing) return S_OK;
  if (Failed(read)) return read;
  givenBack = true;
  return WriteHeldValue(shared.root, shared.keyPath, shared.valueName, kept);
}

HRESULT WriteHandlerKey(HKEY classes, const ServerClass& served) {
  if (served.handlerKeyFormat == nullptr) return S_OK;
  RegistryTextBuffer classId{};
  ProduceClassIdText(served.clsid, classId);
  ProgIdBuffer progId{};
  RegistryTextBuffer keyPath{};
  const HRESULT formatted = FormatRegistryPath(keyPath, served.handlerKeyFormat, HandlerFileType(classes, progId));
  if (Failed(formatted)) return formatted;
  return TakeOverValue(classes, served.clsid, HandlerValue(classes, keyPath), classId.data());
}

HRESULT DeleteServerClassKeys(HKEY classes, const ServerClass& served) {
  RegistryTextBuffer keyPath{};
  const HRESULT formatted = FormatClassPath(keyPath, kClassKeyFormat, served.clsid);
  if (Failed(formatted)) return formatted;
  return DeleteClassesRootTree(classes, keyPath.data());
}

HRESULT LeaveToOtherBitness(HKEY classes, const CLSID& clsid, const SharedValue& shared, bool& left) {
  left = false;
  if (!shared.bothViews) return S_OK;
  const HRESULT found = FindOtherBitness(classes, clsid, left);
  if (Failed(found) || !left) return found;
  return PassOnKeptValue(classes, clsid, shared);
}

HRESULT GiveBackOrDeleteHandler(HKEY classes, const CLSID& clsid, const SharedValue& shared) {
  bool left = false;
  const HRESULT passed = LeaveToOtherBitness(classes, clsid, shared, left);
  if (Failed(passed) || left) return passed;
  bool ours = false;
  const HRESULT checked = HandlerIsOurs(shared.root, clsid, shared.keyPath, ours);
  if (checked == kMissing) return S_OK;
  if (Failed(checked) || !ours) return checked;
  bool givenBack = false;
  const HRESULT result = GiveBackValue(classes, clsid, shared, givenBack);
  if (Failed(result) || givenBack) return result;
  return DeleteClassesRootTree(shared.root, shared.keyPath);
}

HRESULT DeleteHandlerKey(HKEY classes, const ServerClass& served) {
  if (served.handlerKeyFormat == nullptr) return S_OK;
  ProgIdBuffer progId{};
  RegistryTextBuffer keyPath{};
  const HRESULT formatted = FormatRegistryPath(keyPath, served.handlerKeyFormat, HandlerFileType(classes, progId));
  if (Failed(formatted)) return formatted;
  return GiveBackOrDeleteHandler(classes, served.clsid, HandlerValue(classes, keyPath));
}

HRESULT RegisterIn(HKEY classes, const ServerClass& served) {
  RegistryTextBuffer modulePath{};
  HRESULT result = GetModulePath(modulePath);
  if (Failed(result)) return result;
  result = WriteServerClassKeys(classes, served, modulePath.data());
  if (Failed(result)) return result;
  result = WriteHandlerKey(classes, served);
  if (Failed(result)) return result;
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return result;
}

// The module path is not used; a module that cannot name itself unregisters
// nothing, as it registers nothing. Without the class key nothing is touched;
// the handler goes before it, while the class key still holds what the handler
// replaced, and a failure of the class key is told first.
HRESULT UnregisterFrom(HKEY classes, const ServerClass& served) {
  RegistryTextBuffer modulePath{};
  HRESULT result = GetModulePath(modulePath);
  if (Failed(result)) return result;
  result = OpenClassKey(classes, served);
  if (Failed(result)) return result;
  const HRESULT handler = DeleteHandlerKey(classes, served);
  result = DeleteServerClassKeys(classes, served);
  return Failed(result) ? result : handler;
}

}  // namespace kvd
