#pragma once

#include "platform/platform.h"

namespace kvd {

// The class of the preview windows, registered by this module.
extern const WCHAR kPreviewWindowClassName[];

// Counts one preview window about to be made, registering the class for the
// first, with procedure. Windows keeps a module's classes after the module is
// unloaded, pointing at a procedure that is gone, so the class is unregistered
// with the last counted window; until then a handler on any thread finds it
// registered, from before its CreateWindowExW until after its DestroyWindow.
// Each success is matched by one ReleasePreviewWindowClass.
HRESULT AcquirePreviewWindowClass(WNDPROC procedure);

// Counts one preview window gone, destroyed or never made.
void ReleasePreviewWindowClass();

}  // namespace kvd
