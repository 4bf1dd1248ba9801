# Dependencies of the Windows cross build. Debian packages them for mingw only
# in part: zlib comes as a mingw library, Boost's header-only parts are taken
# from the native package, and TinyXML is built from Debian's source package.

# zlib goes into the DLL, so that it needs no zlib1.dll beside it.
set(ZLIB_USE_STATIC_LIBS ON)

# The cross compiler may see Boost's headers but nothing else of /usr/include,
# whose C library headers would shadow mingw's own: it gets a folder that
# holds only a link to the boost folder.
set(KVD_BOOST_INCLUDE_DIR "${CMAKE_BINARY_DIR}/boost-include")
file(MAKE_DIRECTORY "${KVD_BOOST_INCLUDE_DIR}")
file(CREATE_LINK /usr/include/boost "${KVD_BOOST_INCLUDE_DIR}/boost" SYMBOLIC)
set(Boost_INCLUDE_DIR "${KVD_BOOST_INCLUDE_DIR}" CACHE PATH "Boost headers for the cross compiler")
set(Boost_NO_BOOST_CMAKE ON)

# Sources fetched into the build folder, never into the tree. A stamp names
# the fetch script that made them, so that a changed script fetches afresh
# instead of leaving an older build folder with sources prepared differently.
set(TINYXML_SOURCE_DIR "${CMAKE_BINARY_DIR}/tinyxml-src" CACHE PATH "Unpacked TinyXML sources")
set(fetch_tinyxml "${PROJECT_SOURCE_DIR}/scripts/fetch-tinyxml")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${fetch_tinyxml}")
file(SHA256 "${fetch_tinyxml}" fetch_tinyxml_hash)
set(tinyxml_stamp "${CMAKE_BINARY_DIR}/tinyxml-src.fetched-by")
set(fetched_by "")
if(EXISTS "${tinyxml_stamp}")
  file(READ "${tinyxml_stamp}" fetched_by)
endif()
if(NOT EXISTS "${TINYXML_SOURCE_DIR}/tinyxml.h" OR NOT fetched_by STREQUAL fetch_tinyxml_hash)
  message(STATUS "Fetching Debian's tinyxml sources into ${TINYXML_SOURCE_DIR}")
  file(REMOVE_RECURSE "${TINYXML_SOURCE_DIR}")
  execute_process(COMMAND "${fetch_tinyxml}" "${TINYXML_SOURCE_DIR}" COMMAND_ERROR_IS_FATAL ANY)
  file(WRITE "${tinyxml_stamp}" "${fetch_tinyxml_hash}")
endif()
