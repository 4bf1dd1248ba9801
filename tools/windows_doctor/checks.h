#pragma once

// The checks of the Windows doctor, each a small function that prints its
// own lines.

#include <optional>
#include <string>

#include "doctor/report.h"

namespace kvd::windoctor {

// --fix: registers KvdThumbDll.dll beside the doctor for the current user
// where the thumbnail registration is missing or broken and no other
// program's handler stands in its place, after removing the user's own
// registration when it names a DLL that no longer exists. Answers whether
// anything changed.
bool FixUserRegistration(doctor::Report& report);

// Which class .kvd names for thumbnails, the preview pane and properties.
void CheckHandlers(doctor::Report& report);
// Each of our classes in each registry view.
void CheckClasses(doctor::Report& report);
// Explorer's settings and the policies that hide thumbnails; with fix, turns
// "always show icons" off for the current user. Answers whether it did.
bool CheckSettings(doctor::Report& report, bool fix);
// Whether the file lies where Explorer does not ask us for its thumbnail.
// Answers whether the file may be read without downloading it.
bool CheckPlace(doctor::Report& report, const std::wstring& file);
// Draws the file with our class as Explorer does; writes the picture to png.
void CheckDocument(doctor::Report& report, const std::wstring& file, const std::optional<std::wstring>& png);
// How to clear a thumbnail Explorer cached before.
void AdviseOnCache(doctor::Report& report, const std::wstring& file);

}  // namespace kvd::windoctor
