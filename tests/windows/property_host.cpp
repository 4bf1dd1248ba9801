// kvd_property_host EXPECTATIONS_DIR: drives KvdPropertyDll.dll the way
// Explorer and the indexer do, as far as Wine lets it (Wine's shell has no
// property system to look handlers up with): registers it with regsvr32 and
// reads the entries back, creates the class that the machine's list of
// property handlers names, asks it for the canvas size of every document of
// the canvas table and the hostile documents, and unregisters it, leaving
// another program's entries in place.
// kvd_property_host installed EXPECTATIONS_DIR: only the canvas table, through
// the class that an installer registered.

#include <windows.h>
#include <objbase.h>
#include <propsys.h>
#include <psapi.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "expectations.h"
#include "failing_stream.h"
#include "host_support.h"

namespace kvd::wine {
namespace {

constexpr wchar_t kModuleName[] = L"KvdPropertyDll.dll";

std::wstring ModulePath() { return ModuleBesideProgram(kModuleName); }
constexpr wchar_t kHandlerListing[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.kvd";
constexpr wchar_t kAssociation[] = L"SystemFileAssociations\\.kvd";
constexpr wchar_t kForeignClass[] = L"{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";
constexpr const wchar_t* kPropertyLists[] = {L"FullDetails", L"PreviewDetails", L"InfoTip"};

// System.Image.*, as documented: FMTID_ImageSummaryInformation and property IDs.
constexpr GUID kImageSummary = {0x6444048F, 0x4C8B, 0x11D1, {0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03}};
constexpr PROPERTYKEY kHorizontalSize = {kImageSummary, 3};
constexpr PROPERTYKEY kVerticalSize = {kImageSummary, 4};
constexpr PROPERTYKEY kDimensions = {kImageSummary, 13};

// Hostile documents may cost what the handler reads, the header and the
// manifest, never what a chunk declares.
constexpr SIZE_T kHostilePeakGrowth = 4u << 20;

void SetText(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  KVD_CHECK_EQ(RegSetKeyValueW(root, key.c_str(), name, REG_SZ, text.c_str(),
                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
               ERROR_SUCCESS);
}

// What a host finds in the machine's list of property handlers for .kvd.
CLSID ListedClass() {
  CLSID clsid{};
  KVD_CHECK_EQ(CLSIDFromString(ReadRegistryText(HKEY_LOCAL_MACHINE, kHandlerListing, nullptr).c_str(), &clsid), S_OK);
  return clsid;
}

std::wstring ClassKey(const CLSID& clsid) {
  wchar_t text[64];
  KVD_CHECK_EQ(StringFromGUID2(clsid, text, 64), 39);
  return std::wstring(L"CLSID\\") + text;
}

// Each list begins as Explorer's lists do and adds the canvas size to what
// Explorer shows for any file, the size and the date.
void CheckRegistered() {
  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), false), 0u);
  const std::wstring classKey = ClassKey(ListedClass());
  KVD_CHECK(ReadRegistryText(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", nullptr) == ModulePath());
  KVD_CHECK(ReadRegistryText(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", L"ThreadingModel") == L"Apartment");
  // Windows runs it in its isolated surrogate process, as for any handler that does not opt out.
  KVD_CHECK(ReadRegistryText(HKEY_CLASSES_ROOT, classKey, L"DisableProcessIsolation") == L"<missing>");
  for (const wchar_t* list : kPropertyLists) {
    const std::wstring properties = ReadRegistryText(HKEY_CLASSES_ROOT, kAssociation, list);
    KVD_CHECK(properties.starts_with(L"prop:"));
    KVD_CHECK(properties.find(L"System.Image.Dimensions") != std::wstring::npos);
    KVD_CHECK(properties.find(L"System.Size") != std::wstring::npos);
    KVD_CHECK(properties.find(L"System.DateModified") != std::wstring::npos);
  }
}

// A memory stream, as the shell hands over a document it has in memory.
IStream* MemoryStream(const std::vector<std::uint8_t>& bytes) {
  IStream* stream = SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
  KVD_CHECK(stream != nullptr);
  return stream;
}

// How far the stream was read: the reader only ever moves forward.
std::uint64_t Position(IStream& stream) {
  ULARGE_INTEGER position{};
  KVD_CHECK_EQ(stream.Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &position), S_OK);
  return position.QuadPart;
}

// The references others hold to the stream.
ULONG OtherReferences(IStream& stream) {
  stream.AddRef();
  return stream.Release() - 1;
}

struct Store {
  HRESULT initialized = E_FAIL;
  IPropertyStore* properties = nullptr;
};

Store InitializedStore(const CLSID& clsid, IStream* stream, DWORD mode = STGM_READ) {
  Store store;
  IInitializeWithStream* initializer = nullptr;
  if (!KVD_CHECK_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IInitializeWithStream),
                                     reinterpret_cast<void**>(&initializer)),
                    S_OK)) {
    return store;
  }
  store.initialized = initializer->Initialize(stream, mode);
  KVD_CHECK_EQ(initializer->QueryInterface(__uuidof(IPropertyStore), reinterpret_cast<void**>(&store.properties)),
               S_OK);
  initializer->Release();
  return store;
}

std::uint32_t UnsignedValue(IPropertyStore& store, const PROPERTYKEY& key, VARTYPE& type) {
  PROPVARIANT value;
  KVD_CHECK_EQ(store.GetValue(key, &value), S_OK);
  type = value.vt;
  const std::uint32_t number = value.vt == VT_UI4 ? value.ulVal : 0;
  PropVariantClear(&value);
  return number;
}

std::wstring TextValue(IPropertyStore& store, const PROPERTYKEY& key) {
  PROPVARIANT value;
  KVD_CHECK_EQ(store.GetValue(key, &value), S_OK);
  const std::wstring text = value.vt == VT_LPWSTR ? value.pwszVal : value.vt == VT_EMPTY ? L"<empty>" : L"<other>";
  PropVariantClear(&value);
  return text;
}

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) { return a.fmtid == b.fmtid && a.pid == b.pid; }

// The three properties when the document has a canvas size, none otherwise.
void CheckCanvas(IPropertyStore& store, std::uint32_t width, std::uint32_t height, const std::string& name) {
  const bool has = width != 0;
  DWORD count = 99;
  KVD_CHECK_EQ(store.GetCount(&count), S_OK);
  if (!KVD_CHECK_EQ(count, has ? 3u : 0u)) std::fprintf(stderr, "  in %s\n", name.c_str());
  for (DWORD i = 0; i < count; ++i) {
    PROPERTYKEY key{};
    KVD_CHECK_EQ(store.GetAt(i, &key), S_OK);
    KVD_CHECK(SameKey(key, kHorizontalSize) || SameKey(key, kVerticalSize) || SameKey(key, kDimensions));
  }
  PROPERTYKEY beyond{};
  KVD_CHECK_EQ(store.GetAt(count, &beyond), E_INVALIDARG);
  VARTYPE type = VT_ILLEGAL;
  const std::uint32_t horizontal = UnsignedValue(store, kHorizontalSize, type);
  KVD_CHECK_EQ(type, has ? VT_UI4 : VT_EMPTY);
  const std::uint32_t vertical = UnsignedValue(store, kVerticalSize, type);
  KVD_CHECK_EQ(type, has ? VT_UI4 : VT_EMPTY);
  if (!KVD_CHECK(horizontal == width && vertical == height)) std::fprintf(stderr, "  in %s\n", name.c_str());
  const std::wstring dimensions = has ? std::to_wstring(width) + L" x " + std::to_wstring(height) : L"<empty>";
  if (!KVD_CHECK(TextValue(store, kDimensions) == dimensions)) std::fprintf(stderr, "  in %s\n", name.c_str());
}

struct CanvasLine {
  std::filesystem::path document;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

std::vector<CanvasLine> ReadCanvasIndex(const std::filesystem::path& dir) {
  std::vector<CanvasLine> lines;
  std::ifstream index(dir / "canvas-index.txt");
  std::string document;
  CanvasLine line;
  while (index >> document >> line.width >> line.height) {
    line.document = dir / document;
    lines.push_back(line);
  }
  KVD_CHECK(lines.size() >= 4);
  return lines;
}

// From a memory stream that notes how far it was read, and from a file that
// can be deleted as soon as Initialize has returned: the handler keeps no
// reference to either stream.
void CheckCanvasTable(const CLSID& clsid, const std::filesystem::path& dir) {
  for (const CanvasLine& line : ReadCanvasIndex(dir)) {
    const std::string name = line.document.filename().string();
    IStream* memory = MemoryStream(ReadFileBytes(line.document));
    Store store = InitializedStore(clsid, memory);
    KVD_CHECK_EQ(store.initialized, S_OK);
    KVD_CHECK_EQ(OtherReferences(*memory), 0u);
    memory->Release();
    if (store.properties != nullptr) CheckCanvas(*store.properties, line.width, line.height, name);
    if (store.properties != nullptr) store.properties->Release();

    const std::filesystem::path copy = std::filesystem::temp_directory_path() / ("held-" + name);
    std::filesystem::copy_file(line.document, copy, std::filesystem::copy_options::overwrite_existing);
    IStream* file = nullptr;
    KVD_CHECK_EQ(SHCreateStreamOnFileEx(copy.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, 0, FALSE, nullptr, &file),
                 S_OK);
    store = InitializedStore(clsid, file);
    file->Release();
    if (!KVD_CHECK(DeleteFileW(copy.c_str()))) std::fprintf(stderr, "  %s is still held\n", name.c_str());
    if (store.properties != nullptr) CheckCanvas(*store.properties, line.width, line.height, name);
    if (store.properties != nullptr) store.properties->Release();
  }
}

// Read-only as Windows expects of a handler that writes nothing.
void CheckReadOnly(const CLSID& clsid, const std::filesystem::path& dir) {
  IStream* document = MemoryStream(ReadFileBytes(dir / "canvas-normal.kvd"));
  Store refused = InitializedStore(clsid, document, STGM_READWRITE);
  KVD_CHECK_EQ(refused.initialized, STG_E_ACCESSDENIED);
  if (refused.properties != nullptr) refused.properties->Release();
  Store store = InitializedStore(clsid, document);
  if (!KVD_CHECK(store.properties != nullptr)) return;
  IPropertyStoreCapabilities* capabilities = nullptr;
  if (KVD_CHECK_EQ(store.properties->QueryInterface(__uuidof(IPropertyStoreCapabilities),
                                                    reinterpret_cast<void**>(&capabilities)),
                   S_OK)) {
    KVD_CHECK_EQ(capabilities->IsPropertyWritable(kDimensions), S_FALSE);
    capabilities->Release();
  }
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_UI4;
  value.ulVal = 7;
  KVD_CHECK_EQ(store.properties->SetValue(kHorizontalSize, value), STG_E_ACCESSDENIED);
  KVD_CHECK_EQ(store.properties->Commit(), STG_E_ACCESSDENIED);
  IInitializeWithStream* again = nullptr;
  KVD_CHECK_EQ(store.properties->QueryInterface(__uuidof(IInitializeWithStream), reinterpret_cast<void**>(&again)),
               S_OK);
  KVD_CHECK_EQ(again->Initialize(document, STGM_READ), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
  again->Release();
  store.properties->Release();
  document->Release();
}

// A read that fails at any read of Initialize is answered with the stream's
// own result, not taken for a document without a size that the indexer would
// keep; the handler stays uninitialised, and a later Initialize succeeds.
void CheckFailedReads(const CLSID& clsid, const std::filesystem::path& dir) {
  const std::vector<std::uint8_t> bytes = ReadFileBytes(dir / "canvas-normal.kvd");
  IStream* good = MemoryStream(bytes);
  for (int read = 1;; ++read) {
    const HRESULT failure = read % 2 == 1 ? E_PENDING : STG_E_READFAULT;
    auto* failing = new FailingStream(bytes, {read, failure});
    Store store = InitializedStore(clsid, failing);
    const bool struck = failing->Struck();
    failing->Release();
    if (store.properties == nullptr) break;
    if (!struck) {
      KVD_CHECK_EQ(store.initialized, S_OK);
      KVD_CHECK(read > 3);  // the magic, the header words, the manifest
      store.properties->Release();
      break;
    }
    if (!KVD_CHECK_EQ(store.initialized, failure)) std::fprintf(stderr, "  read %d failed\n", read);
    DWORD count = 99;
    KVD_CHECK_EQ(store.properties->GetCount(&count), S_OK);
    KVD_CHECK_EQ(count, 0u);
    IInitializeWithStream* again = nullptr;
    KVD_CHECK_EQ(store.properties->QueryInterface(__uuidof(IInitializeWithStream), reinterpret_cast<void**>(&again)),
                 S_OK);
    KVD_CHECK_EQ(good->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), S_OK);
    KVD_CHECK_EQ(again->Initialize(good, STGM_READ), S_OK);
    again->Release();
    CheckCanvas(*store.properties, 1920, 1080, "canvas-normal.kvd after a failed read");
    store.properties->Release();
  }
  good->Release();
}

SIZE_T PeakMemory() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  KVD_CHECK(GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters));
  return counters.PeakPagefileUsage;
}

// Where the chunk records begin, by the document's own header words.
std::uint64_t FirstChunkOffset(const std::vector<std::uint8_t>& document) {
  if (document.size() < 20) return document.size();
  const std::uint32_t manifestLength =
      static_cast<std::uint32_t>(document[12]) | (static_cast<std::uint32_t>(document[13]) << 8) |
      (static_cast<std::uint32_t>(document[14]) << 16) | (static_cast<std::uint32_t>(document[15]) << 24);
  return 20 + std::uint64_t{manifestLength};
}

// Every document the thumbnail tests hand to the DLL, the hostile ones
// included: an answer, no chunk read, no memory beyond what was read.
void CheckEveryDocument(const CLSID& clsid, const std::filesystem::path& dir) {
  const SIZE_T peakBefore = PeakMemory();
  int documents = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".kvd") continue;
    ++documents;
    const std::vector<std::uint8_t> bytes = ReadFileBytes(entry.path());
    IStream* stream = MemoryStream(bytes);
    Store store = InitializedStore(clsid, stream);
    KVD_CHECK_EQ(store.initialized, S_OK);
    const std::uint64_t reached = Position(*stream);
    stream->Release();
    if (!KVD_CHECK(reached <= FirstChunkOffset(bytes))) {
      std::fprintf(stderr, "  %s: read a chunk\n", entry.path().filename().string().c_str());
    }
    DWORD count = 0;
    if (store.properties != nullptr) KVD_CHECK_EQ(store.properties->GetCount(&count), S_OK);
    if (store.properties != nullptr) store.properties->Release();
  }
  KVD_CHECK(documents >= 20);
  KVD_CHECK(PeakMemory() - peakBefore < kHostilePeakGrowth);
}

// Removal takes only what is ours: another program's handler for .kvd and
// its own property list stay.
void CheckUnregisterKeepsForeignEntries(const CLSID& clsid) {
  SetText(HKEY_LOCAL_MACHINE, kHandlerListing, nullptr, kForeignClass);
  SetText(HKEY_CLASSES_ROOT, kAssociation, L"FullDetails", L"prop:System.Title");
  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), true), 0u);
  KVD_CHECK(!RegistryKeyExists(HKEY_CLASSES_ROOT, ClassKey(clsid)));
  KVD_CHECK(ReadRegistryText(HKEY_LOCAL_MACHINE, kHandlerListing, nullptr) == kForeignClass);
  KVD_CHECK(ReadRegistryText(HKEY_CLASSES_ROOT, kAssociation, L"FullDetails") == L"prop:System.Title");
  KVD_CHECK(ReadRegistryText(HKEY_CLASSES_ROOT, kAssociation, L"InfoTip") == L"<missing>");
  KVD_CHECK_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, kHandlerListing), ERROR_SUCCESS);
  KVD_CHECK_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, kAssociation), ERROR_SUCCESS);
}

// Registering takes another program's handler and list over; unregistering
// gives them back, each with its own type.
void CheckUnregisterGivesBackReplacedEntries() {
  const std::wstring title = L"prop:System.Title";
  SetText(HKEY_LOCAL_MACHINE, kHandlerListing, nullptr, kForeignClass);
  KVD_CHECK_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, kAssociation, L"FullDetails", REG_EXPAND_SZ, title.c_str(),
                               static_cast<DWORD>((title.size() + 1) * sizeof(wchar_t))),
               ERROR_SUCCESS);
  CheckRegistered();
  KVD_CHECK(ReadRegistryText(HKEY_LOCAL_MACHINE, kHandlerListing, nullptr) != kForeignClass);
  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), true), 0u);
  KVD_CHECK(ReadRegistryText(HKEY_LOCAL_MACHINE, kHandlerListing, nullptr) == kForeignClass);
  wchar_t fullDetails[64] = {};
  DWORD bytes = sizeof fullDetails;
  DWORD type = REG_NONE;
  KVD_CHECK_EQ(RegGetValueW(HKEY_CLASSES_ROOT, kAssociation, L"FullDetails", RRF_RT_ANY | RRF_NOEXPAND, &type,
                            fullDetails, &bytes),
               ERROR_SUCCESS);
  KVD_CHECK_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  KVD_CHECK(fullDetails == title);
  KVD_CHECK(ReadRegistryText(HKEY_CLASSES_ROOT, kAssociation, L"InfoTip") == L"<missing>");
  KVD_CHECK_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, kHandlerListing), ERROR_SUCCESS);
  KVD_CHECK_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, kAssociation), ERROR_SUCCESS);
}

void CheckUnregisteredCompletely(const CLSID& clsid) {
  KVD_CHECK_EQ(RunRegsvr32(ModulePath(), true), 0u);
  KVD_CHECK(!RegistryKeyExists(HKEY_CLASSES_ROOT, ClassKey(clsid)));
  KVD_CHECK(!RegistryKeyExists(HKEY_LOCAL_MACHINE, kHandlerListing));
  KVD_CHECK(!RegistryKeyExists(HKEY_CLASSES_ROOT, kAssociation));
}

}  // namespace
}  // namespace kvd::wine

int main(int argc, char** argv) {
  using namespace kvd::wine;
  const bool installed = argc == 3 && std::string_view(argv[1]) == "installed";
  if (argc != 2 && !installed) {
    std::fprintf(stderr, "usage: kvd_property_host [installed] EXPECTATIONS_DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[argc - 1];
  KVD_CHECK_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  if (installed) {
    // A package installed the handler: the class its listing names, in this
    // process's registry view, reads the table.
    CheckCanvasTable(ListedClass(), dir);
    CoUninitialize();
    return ExitStatus();
  }
  CheckRegistered();
  const CLSID clsid = ListedClass();
  CheckCanvasTable(clsid, dir);
  CheckReadOnly(clsid, dir);
  CheckFailedReads(clsid, dir);
  CheckEveryDocument(clsid, dir);
  CoFreeUnusedLibrariesEx(0, 0);
  CheckUnregisteredCompletely(clsid);
  CheckRegistered();
  CheckUnregisterKeepsForeignEntries(clsid);
  CheckUnregisterGivesBackReplacedEntries();
  CoUninitialize();
  return ExitStatus();
}
