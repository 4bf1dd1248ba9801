#pragma once

// The steps of DllRegisterServer and DllUnregisterServer, exposed for tests.
// Each answers an HRESULT; the first failing step decides the result of the
// export, and nothing written before it is rolled back. Every step works below
// a classes key: HKEY_CLASSES_ROOT for the machine, or the per-user classes
// key (HKEY_CURRENT_USER\Software\Classes) that DllInstall opens.

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/platform.h"

namespace kvd {

using WideText = std::basic_string_view<WCHAR>;

// Key paths, the module path and the class identifier text are held in
// buffers of the shell's classic path size, terminator included.
inline constexpr std::size_t kRegistryTextCapacity = 260;
using RegistryTextBuffer = std::array<WCHAR, kRegistryTextCapacity>;

// The ProgID that .kvd names is read into this many bytes, 260 characters
// like the other texts; a longer value, whatever the registry holds, is not
// used.
inline constexpr DWORD kProgIdBufferBytes = 520;
using ProgIdBuffer = std::array<WCHAR, kProgIdBufferBytes / sizeof(WCHAR)>;

// The file type whose thumbnail handler this module is.
inline constexpr WCHAR kFileExtension[] = KVD_WIDE(".kvd");

// Registry names and class identifier texts (hexadecimal, written in either
// case) compare without regard to ASCII case.
bool EqualIgnoringAsciiCase(WideText a, WideText b);

// Writes format with each "%s" replaced by argument. Longer than the buffer
// allows (259 characters): 0x8007007A, the buffer holding the first 259
// characters, terminated.
HRESULT FormatRegistryPath(RegistryTextBuffer& path, WideText format, WideText argument);

// Creates or opens classes\keyPath and sets the REG_SZ value name
// (null: the default value) to text, its terminating NUL included.
HRESULT SetClassesRootString(HKEY classes, const WCHAR* keyPath, const WCHAR* valueName, const WCHAR* text);

// Reads the default value of classes\.kvd into progId; bytesRead
// receives the size of the data read.
HRESULT ReadFileTypeDefault(HKEY classes, ProgIdBuffer& progId, DWORD& bytesRead);

// What a module registers for the one class it serves. Values that are null
// are not written.
struct ServerClass {
  const CLSID& clsid;
  const WCHAR* className;         // the default value of CLSID\{clsid}
  const WCHAR* displayName;       // its "DisplayName" value
  const WCHAR* appId;             // its "AppID" value: the process the shell runs the class in
  const WCHAR* handlerKeyFormat;  // the handler key below the file type, "%s" standing for the file type
                                  // (null for a handler that Windows looks up elsewhere)
};

// The registry text of clsid, as StringFromGUID2 writes it.
void ProduceClassIdText(const CLSID& clsid, RegistryTextBuffer& text);

// CLSID\{clsid} with the class name (and the display name and AppID, if
// any), and its InprocServer32 key with modulePath and the threading model.
HRESULT WriteServerClassKeys(HKEY classes, const ServerClass& served, const WCHAR* modulePath);
// The handler key below the file type, with the class identifier, where the
// file type is the ProgID that .kvd names, or .kvd itself.
HRESULT WriteHandlerKey(HKEY classes, const ServerClass& served);

// A value that another program may hold where ours goes (a handler, a
// property list). Registering keeps the value it replaces, byte for byte and
// its type included, as the value keptName of CLSID\{clsid}\Replaced below
// the classes key; unregistering gives it back while the value is still ours.
// The record goes with the class key.
//
// The keys below the file types and SystemFileAssociations are one key for
// the 64-bit and the 32-bit registry view, while each view has its own class
// keys: with the DLLs of both bitnesses registered, such a value stays ours
// until the last of them is unregistered, and that one gives back what the
// first replaced.
struct SharedValue {
  HKEY root;
  const WCHAR* keyPath;
  const WCHAR* valueName;  // null: the default value
  const WCHAR* keptName;
  bool bothViews;  // one value for both registry views
};

// Sets the shared value to the REG_SZ text, first keeping a value of another
// text that it replaces. A value that is ours already keeps the record it has.
HRESULT TakeOverValue(HKEY classes, const CLSID& clsid, const SharedValue& shared, const WCHAR* text);
// Puts the value kept for shared back in its place; givenBack tells whether
// there was one.
HRESULT GiveBackValue(HKEY classes, const CLSID& clsid, const SharedValue& shared, bool& givenBack);

// Unregistering: while our class is registered in the other view too (by the
// DLL of the other bitness), a value that both views share stays as it is,
// and what our class key keeps of it passes to the other view's class key
// unless that keeps a value of its own; left tells whether it stays.
HRESULT LeaveToOtherBitness(HKEY classes, const CLSID& clsid, const SharedValue& shared, bool& left);

// Deletes the class key, with what it keeps: give back first.
HRESULT DeleteServerClassKeys(HKEY classes, const ServerClass& served);
// Unless it is left to the other bitness, if the default value of the shared
// key names clsid (in any case), gives back the value it replaced, or else
// deletes the key with its subkeys; a key that names another class stays, and
// a key that is gone is no failure: S_OK is answered for both.
HRESULT GiveBackOrDeleteHandler(HKEY classes, const CLSID& clsid, const SharedValue& shared);
// The same for the handler key under the file type that .kvd names now.
HRESULT DeleteHandlerKey(HKEY classes, const ServerClass& served);

// The whole of DllRegisterServer below classes: the class entries, the
// handler entry, then the shell is told.
HRESULT RegisterIn(HKEY classes, const ServerClass& served);
// The whole of DllUnregisterServer below classes; the shell is not told.
HRESULT UnregisterFrom(HKEY classes, const ServerClass& served);

// The body of DllInstall: with the command line "user", registers served
// (install true) or unregisters it under HKEY_CURRENT_USER\Software\Classes;
// any other command line is refused with E_INVALIDARG.
HRESULT InstallForUser(BOOL install, const WCHAR* commandLine, const ServerClass& served);

}  // namespace kvd
