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
// If that key names our class, gives back the handler that writing it
// replaced, or else deletes it; another program's handler stays.
HRESULT DeletePropertyHandlerListing();

// The property lists of SystemFileAssociations\.kvd that tell Explorer where
// to show the canvas size: FullDetails (the Details tab), PreviewDetails (the
// Details pane) and InfoTip (the tooltip), each with what Explorer shows for
// any file. Under SystemFileAssociations no program's ProgID is touched.
// Another program's lists that they replace are kept (see SharedValue).
HRESULT WritePropertyLists(HKEY classes);
// Of the values that still hold our lists, gives back those that writing them
// replaced and deletes the others; then deletes the key when nothing else is
// left in it. While the DLL of the other bitness is registered, the lists
// stay (see SharedValue).
HRESULT DeletePropertyLists(HKEY classes);

}  // namespace kvd
