# Cross build for ARM64 Windows with the clang toolchain that
# scripts/make-arm64-toolchain makes, used inside its Debian 13 tools root
# (scripts/test-windows-arm64). Its programs run under an ARM64 Wine
# (tests/windows/arm64_root_test.sh).

set(triple aarch64-w64-mingw32)
set(toolchain /opt/arm64-mingw)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)

set(CMAKE_C_COMPILER ${toolchain}/bin/${triple}-clang)
set(CMAKE_CXX_COMPILER ${toolchain}/bin/${triple}-clang++)
set(CMAKE_RC_COMPILER ${toolchain}/bin/${triple}-windres)
# GNU objdump misreads the ordinal imports of ARM64 DLLs: their tables are
# read with llvm-readobj (tests/windows/check_dll_tables.cmake).
set(KVD_READOBJ ${toolchain}/bin/${triple}-readobj)

set(CMAKE_FIND_ROOT_PATH ${toolchain}/${triple})
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-windows-common.cmake")
