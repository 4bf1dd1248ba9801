#pragma once

// Loading one of our DLLs as COM does: from the path its class names, then
// its class factory through DllGetClassObject.

#include <windows.h>
#include <objbase.h>

#include <optional>
#include <string>

namespace kvd::windoctor {

// The machine a PE file is built for (IMAGE_FILE_MACHINE_*), read from its
// headers; nothing when it is not a PE file or cannot be read.
std::optional<WORD> PeMachine(const std::wstring& path);
// "64-bit", "32-bit", "ARM64" or the machine's number.
std::string MachineName(WORD machine);
// Whether programs of a view of that bitness load a DLL built for machine.
bool MachineFitsView(WORD machine, bool view64);

// A DLL loaded and its class factory, both released when it goes.
class LoadedClass {
 public:
  LoadedClass(const std::wstring& path, const CLSID& clsid);
  ~LoadedClass();
  LoadedClass(const LoadedClass&) = delete;
  LoadedClass& operator=(const LoadedClass&) = delete;

  IClassFactory* Factory() const { return factory_; }
  // What failed, "" when the factory was handed out.
  const std::string& Problem() const { return problem_; }

 private:
  HMODULE module_ = nullptr;
  IClassFactory* factory_ = nullptr;
  std::string problem_;
};

}  // namespace kvd::windoctor
