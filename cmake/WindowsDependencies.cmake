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

# TinyXML is compiled from Debian's sources (cmake/TinyXMLSources.cmake).
set(KVD_TINYXML_FROM_SOURCE ON)
