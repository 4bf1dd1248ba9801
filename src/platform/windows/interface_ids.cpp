#include "platform/platform.h"

// The SDK header declares this identifier, but no import library of the
// mingw-w64 toolchain defines it.
extern "C" const IID IID_IThumbnailProvider = {
    0xE357FCCD, 0xA995, 0x4576, {0xB0, 0x1F, 0x23, 0x46, 0x30, 0x15, 0x4E, 0x96}};
