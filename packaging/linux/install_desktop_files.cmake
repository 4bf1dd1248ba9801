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

# Written straight to where it is installed, never staged in the build tree:
# two installs from one build to two prefixes at once (the test suites run in
# parallel do so) must not take each other's Exec line, and an install must
# not need to write the build tree.
file(READ "${CMAKE_CURRENT_LIST_DIR}/kvd.thumbnailer.in" kvd_thumbnailer_template)
string(CONFIGURE "${kvd_thumbnailer_template}" kvd_thumbnailer @ONLY)
set(kvd_thumbnailer_file "${kvd_prefix}/share/thumbnailers/kvd.thumbnailer")
set(kvd_staged_file "$ENV{DESTDIR}${kvd_thumbnailer_file}")
message(STATUS "Installing: ${kvd_staged_file}")
file(WRITE "${kvd_staged_file}" "${kvd_thumbnailer}")
file(CHMOD "${kvd_staged_file}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# As file(INSTALL) records it: without DESTDIR.
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${kvd_thumbnailer_file}")
file(INSTALL "${CMAKE_CURRENT_LIST_DIR}/kvd.xml" DESTINATION "${kvd_prefix}/share/mime/packages")

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
