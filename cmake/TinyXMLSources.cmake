# Debian's TinyXML sources, unpacked and patched by scripts/fetch-tinyxml,
# for the builds that compile TinyXML themselves: the Windows DLL, which has
# no packaged TinyXML to link, and the ThreadSanitizer build, which checks the
# very code the DLL ships. Sets TINYXML_SOURCE_DIR for FindTinyXML.

# Sources fetched into the build folder, never into the tree. A stamp names
# the fetch script and our patch that made them, so that a change to either
# fetches afresh instead of leaving an older build folder with sources
# prepared differently.
set(TINYXML_SOURCE_DIR "${CMAKE_BINARY_DIR}/tinyxml-src" CACHE PATH "Unpacked TinyXML sources")
set(fetch_tinyxml "${PROJECT_SOURCE_DIR}/scripts/fetch-tinyxml")
set(tinyxml_patch "${PROJECT_SOURCE_DIR}/cmake/tinyxml-shared-empty-string.patch")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${fetch_tinyxml}" "${tinyxml_patch}")
file(SHA256 "${fetch_tinyxml}" fetch_tinyxml_hash)
file(SHA256 "${tinyxml_patch}" tinyxml_patch_hash)
set(fetched_with "${fetch_tinyxml_hash} ${tinyxml_patch_hash}")
set(tinyxml_stamp "${TINYXML_SOURCE_DIR}.fetched-by")
set(fetched_by "")
if(EXISTS "${tinyxml_stamp}")
  file(READ "${tinyxml_stamp}" fetched_by)
endif()
if(NOT EXISTS "${TINYXML_SOURCE_DIR}/tinyxml.h" OR NOT fetched_by STREQUAL fetched_with)
  message(STATUS "Fetching Debian's tinyxml sources into ${TINYXML_SOURCE_DIR}")
  file(REMOVE_RECURSE "${TINYXML_SOURCE_DIR}")
  execute_process(COMMAND "${fetch_tinyxml}" "${TINYXML_SOURCE_DIR}" COMMAND_ERROR_IS_FATAL ANY)
  file(WRITE "${tinyxml_stamp}" "${fetched_with}")
endif()
