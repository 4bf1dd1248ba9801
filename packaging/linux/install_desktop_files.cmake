# Runs at install time, so that the thumbnailer's Exec line names the prefix
# actually installed to (cmake --install --prefix P), not the configured one.

get_filename_component(kvd_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)

# The thumbnailer names exactly the type that the MIME package defines.
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/kvd.xml" kvd_type_line REGEX "<mime-type type=\"[^\"]+\"")
string(REGEX REPLACE ".*<mime-type type=\"([^\"]+)\".*" "\\1" KVD_MIME_TYPE "${kvd_type_line}")

set(KVD_THUMBNAIL_PATH "${kvd_prefix}/bin/kvd-thumbnail")
# The Exec line is split into words: a path with a space or a reserved
# character goes in double quotes, with ", `, $ and \ escaped inside by a
# backslash, itself written twice as every backslash in a desktop file is.
set(KVD_THUMBNAIL_EXEC "${KVD_THUMBNAIL_PATH}")
if(KVD_THUMBNAIL_EXEC MATCHES "[ \t\"'\\\\$`<>~|&;*?#()]")
  string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\\\\\1" KVD_THUMBNAIL_EXEC "${KVD_THUMBNAIL_EXEC}")
  set(KVD_THUMBNAIL_EXEC "\"${KVD_THUMBNAIL_EXEC}\"")
endif()

# KVD_STAGING_DIR: a folder of the build tree, set by the install rule.
configure_file("${CMAKE_CURRENT_LIST_DIR}/kvd.thumbnailer.in" "${KVD_STAGING_DIR}/kvd.thumbnailer" @ONLY)
file(INSTALL "${KVD_STAGING_DIR}/kvd.thumbnailer" DESTINATION "${kvd_prefix}/share/thumbnailers")
file(INSTALL "${CMAKE_CURRENT_LIST_DIR}/kvd.xml" DESTINATION "${kvd_prefix}/share/mime/packages")
file(INSTALL "${CMAKE_CURRENT_LIST_DIR}/org.example.kvdthumb.metainfo.xml" DESTINATION "${kvd_prefix}/share/metainfo")

# No client knows the type until the MIME database is compiled. A staged
# install (DESTDIR) leaves that to the package's own trigger.
if("$ENV{DESTDIR}" STREQUAL "")
  find_program(kvd_update_mime update-mime-database)
  if(NOT kvd_update_mime)
    message(WARNING "update-mime-database not found: run it on ${kvd_prefix}/share/mime "
                    "(package shared-mime-info) before file managers can recognise .kvd files")
  else()
    message(STATUS "Compiling the MIME database: ${kvd_prefix}/share/mime")
    execute_process(COMMAND "${kvd_update_mime}" "${kvd_prefix}/share/mime" RESULT_VARIABLE kvd_result)
    if(NOT kvd_result EQUAL 0)
      message(FATAL_ERROR "update-mime-database ${kvd_prefix}/share/mime failed: ${kvd_result}")
    endif()
  endif()
endif()
