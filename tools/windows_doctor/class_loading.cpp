#include "class_loading.h"

#include <array>
#include <cstring>

#include "windows_registry.h"

namespace kvd::windoctor {
namespace {

// The DOS header names where the PE header starts; within the first page in
// every linker's output.
constexpr DWORD kHeaderBytes = 4096;
constexpr std::size_t kPeOffsetField = 0x3C;

template <typename T>
T ReadAt(const std::array<BYTE, kHeaderBytes>& bytes, std::size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

}  // namespace

std::optional<WORD> PeMachine(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::array<BYTE, kHeaderBytes> bytes{};
  DWORD read = 0;
  const BOOL ok = ReadFile(file, bytes.data(), kHeaderBytes, &read, nullptr);
  CloseHandle(file);
  if (!ok || read < kPeOffsetField + 4 || bytes[0] != 'M' || bytes[1] != 'Z') return std::nullopt;
  const auto peOffset = ReadAt<DWORD>(bytes, kPeOffsetField);
  if (peOffset > read - 6 || std::memcmp(bytes.data() + peOffset, "PE\0\0", 4) != 0) return std::nullopt;
  return ReadAt<WORD>(bytes, peOffset + 4);
}

std::string MachineName(WORD machine) {
  switch (machine) {
    case IMAGE_FILE_MACHINE_AMD64:
      return "64-bit";
    case IMAGE_FILE_MACHINE_I386:
      return "32-bit";
    case IMAGE_FILE_MACHINE_ARM64:
      return "ARM64";
    default:
      return "machine " + std::to_string(machine);
  }
}

// Windows on ARM runs x64 programs beside ARM64 ones in the 64-bit view.
bool MachineFitsView(WORD machine, bool view64) {
  if (view64) return machine == IMAGE_FILE_MACHINE_AMD64 || machine == IMAGE_FILE_MACHINE_ARM64;
  return machine == IMAGE_FILE_MACHINE_I386;
}

LoadedClass::LoadedClass(const std::wstring& path, const CLSID& clsid) {
  module_ = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module_ == nullptr) {
    problem_ = "it does not load (" + ErrorText(HRESULT_FROM_WIN32(GetLastError())) + ")";
    return;
  }
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto getClassObject =
      reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
  if (getClassObject == nullptr) {
    problem_ = "it exports no DllGetClassObject";
    return;
  }
  const HRESULT result = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory_));
  if (FAILED(result) || factory_ == nullptr) {
    factory_ = nullptr;
    problem_ = "it hands out no class object (" + ErrorText(result) + ")";
  }
}

LoadedClass::~LoadedClass() {
  if (factory_ != nullptr) factory_->Release();
  if (module_ != nullptr) FreeLibrary(module_);
}

}  // namespace kvd::windoctor
