# Finds TinyXML and provides the imported target TinyXML::TinyXML.
#
# Natively the distribution's library is used. A cross build has no packaged
# TinyXML, and the ThreadSanitizer build checks the code the DLL ships: with
# KVD_TINYXML_FROM_SOURCE, Debian's sources are fetched and their four source
# files are built here as a static library, without STL mode.

if(KVD_TINYXML_FROM_SOURCE)
  include(TinyXMLSources)
endif()

if(TINYXML_SOURCE_DIR)
  add_library(kvd_tinyxml STATIC
    "${TINYXML_SOURCE_DIR}/tinyxml.cpp"
    "${TINYXML_SOURCE_DIR}/tinyxmlparser.cpp"
    "${TINYXML_SOURCE_DIR}/tinyxmlerror.cpp"
    "${TINYXML_SOURCE_DIR}/tinystr.cpp")
  # Without STL mode: that mode brings <iostream> into the DLL, whose static
  # destructor takes a thread-local-storage slot that is never given back, so
  # a process that loads and unloads the DLL runs out of slots. The manifest
  # code uses only the C-string interface, which parses alike in both modes.
  target_include_directories(kvd_tinyxml SYSTEM PUBLIC "${TINYXML_SOURCE_DIR}")
  add_library(TinyXML::TinyXML ALIAS kvd_tinyxml)
  set(TinyXML_FOUND TRUE)
  return()
endif()

find_path(TINYXML_INCLUDE_DIR tinyxml.h)
find_library(TINYXML_LIBRARY tinyxml)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(TinyXML REQUIRED_VARS TINYXML_LIBRARY TINYXML_INCLUDE_DIR)

if(TinyXML_FOUND AND NOT TARGET TinyXML::TinyXML)
  add_library(TinyXML::TinyXML UNKNOWN IMPORTED)
  set_target_properties(TinyXML::TinyXML PROPERTIES
    IMPORTED_LOCATION "${TINYXML_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${TINYXML_INCLUDE_DIR}"
    INTERFACE_COMPILE_DEFINITIONS TIXML_USE_STL)
endif()
