#pragma once

// The Windows calls and COM types that the module and the provider adapter
// use. On Windows they are the SDK's own; elsewhere they are the stand-ins of
// platform/stand_in, which behave as far as this code relies on them. Of the
// product code, only the module and the provider adapter include this header.

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <thumbcache.h>
#define KVD_WIDE(text) L##text
#else
#include "platform/stand_in/win32.h"
#define KVD_WIDE(text) u##text
#endif

#include <new>

// A COM object is destroyed by its own Release, never through an interface
// pointer, which is why the interfaces have no virtual destructor. The
// warning about such bases does not apply to the classes that implement them.
#define KVD_COM_CLASSES_BEGIN \
  _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wnon-virtual-dtor\"")
#define KVD_COM_CLASSES_END _Pragma("GCC diagnostic pop")

namespace kvd {

// The standard rule: a code of 0 or below stays as it is; a positive code
// becomes a failure of the Win32 facility.
constexpr HRESULT HResultFromWin32(LONG code) {
  if (code <= 0) return static_cast<HRESULT>(code);
  return static_cast<HRESULT>(0x80070000u | (static_cast<unsigned int>(code) & 0xFFFFu));
}

constexpr bool Failed(HRESULT result) { return result < 0; }

// The calling thread's last Win32 error as an HRESULT, or fallback when the
// call that failed recorded no reason: a failure never passes as S_OK.
inline HRESULT LastErrorOr(HRESULT fallback) {
  const HRESULT reason = HResultFromWin32(static_cast<LONG>(GetLastError()));
  return Failed(reason) ? reason : fallback;
}

// Runs the body of a COM method or an export and answers its result. The
// host is written in no particular language and cannot catch an exception:
// memory that runs out answers E_OUTOFMEMORY, anything else E_FAIL.
template <typename Body>
HRESULT WithoutThrowing(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// A QueryInterface table entry: the identifier and where inside object the
// interface pointer lies.
template <typename Interface, typename Object>
QITAB InterfaceEntry(const IID& iid, Object& object) {
  const auto* start = reinterpret_cast<const char*>(&object);
  const auto* held = reinterpret_cast<const char*>(static_cast<Interface*>(&object));
  return QITAB{&iid, static_cast<decltype(QITAB::dwOffset)>(held - start)};
}

// The thumbnail provider's interface identifier. mingw-w64 declares
// IID_IThumbnailProvider but no import library defines it, and a definition of
// our own would clash with a release that does; the interface's declaration
// carries the identifier for __uuidof.
#ifdef _WIN32
inline const IID& kThumbnailProviderIid = __uuidof(IThumbnailProvider);
#else
inline constexpr const IID& kThumbnailProviderIid = IID_IThumbnailProvider;
#endif

// Ends a QueryInterface table.
inline constexpr QITAB kEndOfInterfaceTable{nullptr, 0};

}  // namespace kvd
