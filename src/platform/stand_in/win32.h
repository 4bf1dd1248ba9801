#pragma once

// Stand-ins for the Windows types and calls that the module and the provider
// adapter use, for building and testing them where there is no Windows. Names
// and signatures follow the SDK so that the same source compiles on both; only
// what that source calls is here. Text is UTF-16 as on Windows. The
// test-facing side (seeding and inspecting the registry, failing calls) is in
// platform/stand_in/control.h.

#include <cstdint>
#include <vector>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using BOOL = int;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPOLESTR = WCHAR*;
using LPVOID = void*;
using LPCVOID = const void*;
using HANDLE = void*;
using HRESULT = std::int32_t;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

#define WINAPI
#define STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT

// Results.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_ALREADY_INITIALIZED = 1247;

// Identifiers. Two compare equal when their 16 bytes do.
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];

  friend bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

int StringFromGUID2(REFGUID guid, LPOLESTR text, int capacity);

enum WTS_ALPHATYPE { WTSAT_UNKNOWN = 0, WTSAT_ARGB = 2 };

// The bitmap: the header it was made from and its pixel memory.
struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
};
struct DibSection {
  BITMAPINFOHEADER header;
  std::vector<BYTE> bits;
};
using HBITMAP = DibSection*;
using HDC = struct HDC__*;
inline constexpr UINT DIB_RGB_COLORS = 0;

// The section is the caller's to delete.
HBITMAP CreateDIBSection(HDC context, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);

// COM interfaces, with only the methods that are called. Like the SDK's they
// have no virtual destructor: objects are destroyed by their own Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};

union LARGE_INTEGER {
  LONGLONG QuadPart;
};
union ULARGE_INTEGER {
  ULONGLONG QuadPart;
};
inline constexpr DWORD STREAM_SEEK_CUR = 1;

struct IStream : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* delivered) = 0;
  virtual HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) = 0;
};

struct IInitializeWithStream : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD mode) = 0;
};

struct IThumbnailProvider : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) = 0;
};

#pragma GCC diagnostic pop

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IStream{0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IInitializeWithStream{
    0xB824B49D, 0x22AC, 0x4161, {0xAC, 0x8A, 0x99, 0x16, 0xE8, 0xFA, 0x3F, 0x7F}};
inline constexpr IID IID_IThumbnailProvider{
    0xE357FCCD, 0xA995, 0x4576, {0xB0, 0x1F, 0x23, 0x46, 0x30, 0x15, 0x4E, 0x96}};

// Table-driven QueryInterface: the first entry whose identifier is riid, or
// the first entry for IID_IUnknown, is handed out with a reference added;
// otherwise *ppv becomes null and the answer is E_NOINTERFACE. A null ppv is
// E_POINTER. A null identifier ends the table.
struct QITAB {
  const IID* piid;
  int dwOffset;
};
HRESULT QISearch(void* object, const QITAB* table, REFIID riid, void** ppv);

// Loader and kernel.
using HINSTANCE = struct HINSTANCE__*;
using HMODULE = HINSTANCE;
inline constexpr DWORD DLL_PROCESS_ATTACH = 1;

BOOL DisableThreadLibraryCalls(HMODULE module);
// The path that the tests set; a path that does not fit is cut to capacity - 1
// characters and capacity is returned, as on Windows.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD capacity);
DWORD GetLastError();
int lstrlenW(LPCWSTR text);

// Shell: the calls are recorded for the tests.
inline constexpr LONG SHCNE_ASSOCCHANGED = 0x08000000;
inline constexpr UINT SHCNF_IDLIST = 0;
void SHChangeNotify(LONG event, UINT flags, LPCVOID item1, LPCVOID item2);

// Registry: in-memory HKEY_CLASSES_ROOT and HKEY_CURRENT_USER. Key and value
// names compare without regard to ASCII case, as on Windows. Any open key may
// stand as the root of the calls that take one.
using HKEY = struct HKEY__*;
using REGSAM = DWORD;
extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_CURRENT_USER;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM DELETE = 0x10000;
// The registry views of a 64-bit Windows (see stand_in::RunAs32Bit).
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;

// Opens subKey below root, creating it and every missing key above it.
LONG RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,
                     const void* security, HKEY* key, DWORD* disposition);
LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, HKEY* key);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
// ERROR_MORE_DATA, with *size set to the size needed, when the value is larger than *size.
LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LONG RegCloseKey(HKEY key);
LONG RegDeleteTreeW(HKEY root, LPCWSTR subKey);
