# Cross build for 64-bit Windows with mingw-w64, or for 32-bit Windows when
# KVD_MINGW_PROCESSOR is i686 (toolchain-mingw32.cmake); the programs it
# builds run under Wine (see wine-run beside this file).

if(NOT KVD_MINGW_PROCESSOR)
  set(KVD_MINGW_PROCESSOR x86_64)
endif()
set(triple ${KVD_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KVD_MINGW_PROCESSOR})

# The win32 thread model: the module needs no std::thread or std::mutex (its
# counters are atomics), and with this model any use of them fails to compile
# instead of pulling in a threading runtime DLL.
set(CMAKE_C_COMPILER ${triple}-gcc-win32)
set(CMAKE_CXX_COMPILER ${triple}-g++-win32)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-windows-common.cmake")
