#include "shell_module/module_state.h"

namespace kvd {

const CLSID CLSID_KvdThumbnailProvider = {
    0x74408BFC, 0x4515, 0x4D3B, {0x95, 0x97, 0xC7, 0x24, 0x2D, 0x87, 0x35, 0x8C}};

HINSTANCE g_moduleHandle = nullptr;

std::atomic<std::int32_t> g_moduleUsageCount{0};

}  // namespace kvd
