#pragma once

#include "platform/platform.h"
#include "shell_module/registration.h"

namespace kvd {

// The property handler's class entries: its name and display name. Its
// handler entry is not below the file type but in the machine's list of
// property handlers (below).
extern const ServerClass kPropertyHandlerClass;

// The machine's PropertySystem\PropertyHandlers\.kvd key (below
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion), default value
// our class identifier: Windows reads property handlers only from there, never
// from the per-user classes.
HRESULT WritePropertyHandlerListing();
// Deletes that key if it names our class; another program's handler stays.
HRESULT DeletePropertyHandlerListing();

// The property lists of SystemFileAssociations\.kvd that tell Explorer where
// to show the canvas size: FullDetails (the Details tab), PreviewDetails (the
// Details pane) and InfoTip (the tooltip), each with what Explorer shows for
// any file. Under SystemFileAssociations no program's ProgID is touched.
HRESULT WritePropertyLists(HKEY classes);
// Deletes those of the values that still hold our lists, and the key when
// nothing else is left in it.
HRESULT DeletePropertyLists(HKEY classes);

}  // namespace kvd
