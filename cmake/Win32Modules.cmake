# The 32-bit modules that the Windows packages carry beside the 64-bit ones:
# this source tree built again with mingw-w64's i686 compilers, in the folder
# i686 of this build, tests included. Their tests need a Wine that runs
# 32-bit programs (tests/windows/wow64_root_test.sh). Sets KVD_WIN32_BIN, the
# folder of the 32-bit DLLs.
include(ExternalProject)
set(win32_dir "${CMAKE_BINARY_DIR}/i686")
set(KVD_WIN32_BIN "${win32_dir}/bin")
set(win32_args
  -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw32.cmake
  -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DCMAKE_CXX_FLAGS=${CMAKE_CXX_FLAGS}
  -DKVD_BUILD_TOOLS=OFF -DKVD_BUILD_TESTS=${KVD_BUILD_TESTS}
  # The same TinyXML sources, fetched once.
  -DTINYXML_SOURCE_DIR=${TINYXML_SOURCE_DIR})
if(KVD_BUILD_TESTS)
  # The bitmaps both builds are held to come from one native writer, which
  # this build builds (tests/windows) before any test runs.
  list(APPEND win32_args -DKVD_EXPECTATIONS_WRITER=${CMAKE_BINARY_DIR}/native/tests/windows/write_expectations)
endif()
ExternalProject_Add(win32_modules
  SOURCE_DIR "${PROJECT_SOURCE_DIR}"
  BINARY_DIR "${win32_dir}"
  CMAKE_ARGS ${win32_args}
  BUILD_COMMAND "${CMAKE_COMMAND}" --build "${win32_dir}" --parallel 2
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS "${KVD_WIN32_BIN}/KvdThumbDll.dll" "${KVD_WIN32_BIN}/KvdPreviewDll.dll"
                   "${KVD_WIN32_BIN}/KvdPropertyDll.dll"
  INSTALL_COMMAND "")
