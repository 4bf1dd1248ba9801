#pragma once

// The steps of DllRegisterServer and DllUnregisterServer, exposed for tests.
// Each answers an HRESULT; the first failing step decides the result of the
// export, and nothing written before it is rolled back.

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

// Writes format with each "%s" replaced by argument. Longer than the buffer
// allows (259 characters): 0x8007007A, the buffer holding the first 259
// characters, terminated.
HRESULT FormatRegistryPath(RegistryTextBuffer& path, WideText format, WideText argument);

// Creates or opens HKEY_CLASSES_ROOT\keyPath and sets the REG_SZ value name
// (null: the default value) to text, its terminating NUL included.
HRESULT SetClassesRootString(const WCHAR* keyPath, const WCHAR* valueName, const WCHAR* text);

// Reads the default value of HKEY_CLASSES_ROOT\.kvd into progId; bytesRead
// receives the size of the data read.
HRESULT ReadFileTypeDefault(ProgIdBuffer& progId, DWORD& bytesRead);

// CLSID\{clsid} with the class name, and its InprocServer32 key with
// modulePath and the threading model.
HRESULT WriteProviderClassKeys(const WCHAR* modulePath);
// {file type}\shellex\{IThumbnailProvider} with the class identifier, where
// the file type is the ProgID that .kvd names, or .kvd itself.
HRESULT WriteThumbnailHandlerKey();

HRESULT DeleteProviderClassKeys();
// Deletes the handler key under the file type that .kvd names now, if its
// default value is our class identifier (in any case); a handler of another
// class stays, and S_OK is answered.
HRESULT DeleteThumbnailHandlerKey();

}  // namespace kvd
