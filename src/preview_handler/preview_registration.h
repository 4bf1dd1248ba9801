#pragma once

#include "platform/platform.h"
#include "shell_module/registration.h"

namespace kvd {

// The preview handler's class entries: its name, the display name, the
// shell's preview host of the module's bitness as AppID, and the handler key
// under the IPreviewHandler identifier below the file type.
extern const ServerClass kPreviewHandlerClass;

// The value {clsid} = display name in the machine's list of preview handlers,
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\PreviewHandlers.
HRESULT WritePreviewHandlerListing();
// Deletes that value; the list and other handlers' values stay.
HRESULT DeletePreviewHandlerListing();

}  // namespace kvd
