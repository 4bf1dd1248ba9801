// The handlers that .kvd names, our classes in each registry view, and the
// per-user registration that --fix makes through KvdThumbDll's own DllInstall.

#include <shobjidl.h>
#include <thumbcache.h>

#include <array>
#include <cwctype>
#include <filesystem>

#include "checks.h"
#include "class_loading.h"
#include "preview_handler/kvd_preview_handler.h"
#include "property_handler/kvd_property_handler.h"
#include "shell_module/module_state.h"
#include "shell_module/registration.h"
#include "windows_registry.h"

namespace kvd::windoctor {
namespace {

struct OurClass {
  const char* dll;
  const CLSID& clsid;
  // Windows reads property handlers from the machine's registry alone: the
  // per-user package leaves this class out.
  bool perMachineOnly;
};

const std::array kOurClasses = {
    OurClass{"KvdThumbDll.dll", CLSID_KvdThumbnailProvider, false},
    OurClass{"KvdPreviewDll.dll", CLSID_KvdPreviewHandler, false},
    OurClass{"KvdPropertyDll.dll", CLSID_KvdPropertyHandler, true},
};
const OurClass& kThumbnailClass = kOurClasses[0];

constexpr wchar_t kPropertyListing[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.kvd";
constexpr char kReinstall[] = "repair or reinstall KvdThumb (Settings, Apps)";
constexpr char kRunFix[] = "run kvd-doctor --fix, or repair or reinstall KvdThumb (Settings, Apps)";

// Handler keys are named by the interface, in lower case as the shell writes them.
std::wstring HandlerKeyName(const IID& iid) {
  std::wstring name = ClassIdText(iid);
  for (wchar_t& c : name) c = static_cast<wchar_t>(towlower(c));
  return name;
}

std::optional<Found> ThumbnailHandler() { return FindShellexHandler(HandlerKeyName(__uuidof(IThumbnailProvider))); }
std::optional<Found> PreviewHandler() { return FindShellexHandler(HandlerKeyName(__uuidof(IPreviewHandler))); }
std::optional<Found> PropertyHandler() {
  auto text = ReadText(HKEY_LOCAL_MACHINE, kPropertyListing, nullptr);
  if (!text) return std::nullopt;
  return Found{*text, std::wstring(L"HKLM\\") + kPropertyListing};
}

struct Handler {
  const char* what;
  const OurClass& ours;
  std::optional<Found> (*find)();
};
const std::array kHandlers = {
    Handler{"thumbnails", kOurClasses[0], ThumbnailHandler},
    Handler{"preview pane", kOurClasses[1], PreviewHandler},
    Handler{"properties", kOurClasses[2], PropertyHandler},
};

bool SameClass(const std::wstring& a, const std::wstring& b) {
  return EqualIgnoringAsciiCase(WideText(a.data(), a.size()), WideText(b.data(), b.size()));
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// What keeps the view's programs from using the class, "" when nothing does.
// Only the doctor's own view's DLL is loaded; the other's is read.
std::string ServerProblem(const ClassServer& server, const OurClass& ours, const RegistryView& view) {
  const std::string names = Printable(server.where) + " names " + Printable(server.path);
  if (!FileExists(server.path)) return names + ", which does not exist";
  const std::optional<WORD> machine = PeMachine(server.path);
  if (!machine) return names + ", which is not a DLL that can be read";
  if (!MachineFitsView(*machine, &view == &View64())) {
    return names + ", a " + MachineName(*machine) + " DLL, which " + view.name + " programs cannot load";
  }
  if (!EqualIgnoringAsciiCase(WideText(server.threading.data(), server.threading.size()), WideText(L"Apartment"))) {
    return names + " with the threading model '" + Printable(server.threading) + "', not Apartment";
  }
  if (view.ownBitness) {
    const LoadedClass loaded(server.path, ours.clsid);
    if (!loaded.Problem().empty()) return names + ", but " + loaded.Problem();
  }
  return "";
}

std::filesystem::path DoctorFolder() {
  std::array<wchar_t, 32768> path{};
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return std::filesystem::path(std::wstring(path.data(), length)).parent_path();
}

// The thumbnail DLL installed beside the doctor, of the doctor's bitness.
std::optional<std::wstring> ThumbnailDllBeside() {
  const std::wstring path = (DoctorFolder() / kThumbnailClass.dll).wstring();
  const std::optional<WORD> machine = PeMachine(path);
  if (!machine || !MachineFitsView(*machine, &OwnView() == &View64())) return std::nullopt;
  return path;
}

// KvdThumbDll's DllInstall with the command line "user": what regsvr32
// /n /i:user runs.
HRESULT InstallForUser(const std::wstring& dll, bool install) {
  const HMODULE module = LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  using DllInstall = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
  const auto dllInstall = reinterpret_cast<DllInstall>(reinterpret_cast<void*>(GetProcAddress(module, "DllInstall")));
  const HRESULT result = dllInstall == nullptr ? E_NOINTERFACE : dllInstall(install ? TRUE : FALSE, L"user");
  FreeLibrary(module);
  return result;
}

// The thumbnail registration of the doctor's own view, as Explorer finds it:
// missing or broken unless another program's handler stands in its place.
bool ThumbnailRegistrationNeedsUs() {
  const std::optional<Found> handler = ThumbnailHandler();
  const std::wstring ours = ClassIdText(kThumbnailClass.clsid);
  if (handler && !SameClass(handler->text, ours)) return false;
  const std::optional<ClassServer> server = FindClassServer(ours, OwnView());
  return !handler || !server || !ServerProblem(*server, kThumbnailClass, OwnView()).empty();
}

}  // namespace

bool FixUserRegistration(doctor::Report& report) {
  const std::optional<std::wstring> dll = ThumbnailDllBeside();
  if (!dll) return false;
  bool changed = false;
  const std::wstring classId = ClassIdText(kThumbnailClass.clsid);
  const std::optional<ClassServer> server = FindClassServer(classId, OwnView());
  if (server && server->perUser && !FileExists(server->path)) {
    // Unregistering answers a failure when the handler key was gone
    // already, after deleting the class key: what is left tells.
    const HRESULT removed = InstallForUser(*dll, false);
    const std::optional<ClassServer> left = FindClassServer(classId, OwnView());
    if (left && left->perUser) {
      report.Wrong("registration: your registration naming " + Printable(server->path) + " could not be removed (" +
                       ErrorText(removed) + ")",
                   "run regsvr32 /u /n /i:user on " + Printable(*dll));
      return false;
    }
    report.Fixed("registration: removed your registration of KvdThumb, which named " + Printable(server->path) +
                 ", a DLL that no longer exists");
    changed = true;
  }
  if (!ThumbnailRegistrationNeedsUs()) return changed;
  const HRESULT installed = InstallForUser(*dll, true);
  if (FAILED(installed)) {
    report.Wrong("registration: " + Printable(*dll) + " could not be registered for you (" + ErrorText(installed) + ")",
                 "run regsvr32 /n /i:user on " + Printable(*dll));
    return changed;
  }
  report.Fixed("registration: registered " + Printable(*dll) +
               " for you (HKCU\\Software\\Classes), keeping the values it replaced");
  return true;
}

void CheckHandlers(doctor::Report& report) {
  for (const Handler& handler : kHandlers) {
    const std::string name = std::string("handlers: ") + handler.what;
    const std::wstring ours = ClassIdText(handler.ours.clsid);
    const std::optional<Found> found = handler.find();
    if (found && SameClass(found->text, ours)) {
      report.Ok(name + ": " + Printable(found->where) + " names KvdThumb's class");
    } else if (found) {
      const std::optional<ClassServer> other = FindClassServer(found->text, View64());
      report.Wrong(name + ": " + Printable(found->where) + " names " + Printable(found->text) +
                       (other ? ", " + Printable(other->path) : std::string(", a class that is not registered")) +
                       ", not KvdThumb's " + Printable(ours),
                   "another program took .kvd over: uninstall KvdThumb and install it again to take it back "
                   "(kvd-doctor never changes another program's handler)");
    } else if (handler.ours.perMachineOnly && !FindClassServer(ours, View64())) {
      report.Ok(name + ": none; only the per-machine package of KvdThumb shows the canvas size in Explorer");
    } else {
      report.Wrong(name + ": .kvd names no handler",
                   &handler.ours == &kThumbnailClass ? kRunFix : kReinstall);
    }
  }
}

void CheckClasses(doctor::Report& report) {
  for (const OurClass& ours : kOurClasses) {
    const std::wstring classId = ClassIdText(ours.clsid);
    for (const RegistryView* view : {&View64(), &View32()}) {
      const std::string name = std::string("class: ") + ours.dll + " for " + view->name + " programs";
      const bool fixable = &ours == &kThumbnailClass && view->ownBitness;
      const std::optional<ClassServer> server = FindClassServer(classId, *view);
      if (!server) {
        const RegistryView& other = view == &View64() ? View32() : View64();
        if (ours.perMachineOnly && !FindClassServer(classId, other)) {
          report.Ok(name + ": not installed (only the per-machine package has it)");
        } else {
          report.Wrong(name + ": " + Printable(classId) + " is not registered in the " + view->name +
                           " registry view",
                       fixable ? kRunFix : kReinstall);
        }
        continue;
      }
      if (const std::string problem = ServerProblem(*server, ours, *view); !problem.empty()) {
        report.Wrong(name + ": " + problem, fixable ? kRunFix : kReinstall);
      } else if (view->ownBitness) {
        report.Ok(name + ": " + Printable(server->path) + ", " + Printable(server->threading) +
                  ", loads and hands out its class object");
      } else {
        report.Ok(name + ": " + Printable(server->path) + ", " + Printable(server->threading) +
                  " (read from the file: a " + OwnView().name + " program cannot load it)");
      }
    }
  }
}

}  // namespace kvd::windoctor
