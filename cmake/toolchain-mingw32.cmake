# Cross build for 32-bit Windows: the 64-bit build's settings with mingw-w64's
# i686 compilers. Its programs need a Wine that runs 32-bit programs.
set(KVD_MINGW_PROCESSOR i686)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw64.cmake")

