// kvd-doctor.exe: checks each thing that makes Explorer show icons instead of
// .kvd thumbnails, prints one line per check and, with --fix, repairs what
// belongs to the user running it (the user's own registration of KvdThumb,
// Explorer's "always show icons"). Policies and other programs' handlers are
// reported, never changed.

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <array>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "checks.h"
#include "command_line.h"
#include "doctor/report.h"

namespace {

using kvd::doctor::Report;
using kvd::doctor::RunCheck;

constexpr std::string_view kUsage =
    "usage: kvd-doctor [--fix] [FILE.kvd [--png OUT.png]]\n"
    "Checks why Explorer may show icons instead of .kvd thumbnails, one line per\n"
    "check. With FILE, also draws it as Explorer does (--png writes the picture).\n"
    "--fix registers KvdThumb for you where its registration is missing or broken\n"
    "and turns \"Always show icons, never thumbnails\" off.\n";

struct Options {
  bool fix = false;
  std::wstring file;
  std::optional<std::wstring> png;
};

// Nothing when the arguments make no sense.
std::optional<Options> ParseArguments(int argc, wchar_t** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view argument = argv[i];
    if (argument == L"--fix" && !options.fix) {
      options.fix = true;
    } else if (argument == L"--png" && !options.png && i + 1 < argc) {
      options.png = argv[++i];
    } else if (!argument.starts_with(L"-") && options.file.empty()) {
      options.file = argument;
    } else {
      return std::nullopt;
    }
  }
  if (options.png && options.file.empty()) return std::nullopt;
  return options;
}

bool AsksForHelp(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::wstring_view(argv[i]) == L"-h" || std::wstring_view(argv[i]) == L"--help") return true;
  }
  return false;
}

// The file as Windows names it in full, so that its drive can be told.
std::wstring FullPath(const std::wstring& file) {
  std::array<wchar_t, 32768> full{};
  const DWORD length = GetFullPathNameW(file.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  return length == 0 || length >= full.size() ? file : std::wstring(full.data(), length);
}

int RunChecks(const Options& options) {
  namespace doctor = kvd::windoctor;
  Report report;
  bool changed = false;
  if (options.fix) RunCheck(report, "registration", [&] { changed = doctor::FixUserRegistration(report); });
  RunCheck(report, "handlers", [&] { doctor::CheckHandlers(report); });
  RunCheck(report, "classes", [&] { doctor::CheckClasses(report); });
  RunCheck(report, "settings", [&] { changed = doctor::CheckSettings(report, options.fix) || changed; });
  const std::wstring file = options.file.empty() ? options.file : FullPath(options.file);
  if (!file.empty()) {
    bool readable = true;
    RunCheck(report, "place", [&] { readable = doctor::CheckPlace(report, file); });
    if (readable) RunCheck(report, "document", [&] { doctor::CheckDocument(report, file, options.png); });
  }
  if (report.problems == 0) doctor::AdviseOnCache(report, file);
  if (changed) SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return report.problems == 0 ? 0 : kvd::tools::kExitFailure;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (AsksForHelp(argc, argv)) {
    std::cout << kUsage;
    return 0;
  }
  const std::optional<Options> options = ParseArguments(argc, argv);
  if (!options) {
    std::cerr << kUsage;
    return kvd::tools::kExitUsage;
  }
  // Our classes are apartment-threaded, as is Explorer's thread that uses them.
  const HRESULT initialized = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int status = RunChecks(*options);
  if (SUCCEEDED(initialized)) CoUninitialize();
  return status;
}
