# Checks the import and export tables of a built DLL:
#   cmake -DOBJDUMP=<mingw objdump> -DDLL=<KvdThumbDll.dll> -DEXPORTS=<name,...> [-DEXTRA_IMPORT=<DLL>]
#         [-DNO_IMPORT=<DLL>]
#         -P check_dll_tables.cmake
# A user installs the DLL alone, so it may import only from Windows' own DLLs
# (msvcrt, not the api-ms-win-crt-* of the universal runtime), and the shell
# finds exactly the entry points of an in-process COM server (EXPORTS, by comma:
# the four of every server and, for KvdThumbDll, the DllInstall of per-user
# registration), undecorated. EXTRA_IMPORT names the one more DLL that a
# module may import (the preview handler's windows come from USER32.dll);
# NO_IMPORT one that it must not (the property handler draws nothing: no GDI32.dll).

set(expected_imports ADVAPI32.dll GDI32.dll KERNEL32.dll SHELL32.dll SHLWAPI.dll msvcrt.dll ole32.dll ${EXTRA_IMPORT})
if(NO_IMPORT)
  list(REMOVE_ITEM expected_imports ${NO_IMPORT})
endif()
string(REPLACE "," ";" expected_exports "${EXPORTS}")
execute_process(COMMAND "${OBJDUMP}" -p "${DLL}" OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${result}")
endif()

# QISearch, imported by ordinal 219 (0xdb): the import thunk is the ordinal
# flag (the top bit of a 32-bit DLL's 32-bit thunk, of a 64-bit one's 64-bit
# thunk) and the ordinal.
if(dump MATCHES "\nMagic[ \t]+010b")
  set(qisearch_thunk 800000db)
else()
  set(qisearch_thunk 80000000000000db)
endif()

set(failures "")

function(expect_same_list what actual expected)
  list(SORT actual CASE INSENSITIVE)
  list(SORT expected CASE INSENSITIVE)
  if(NOT actual STREQUAL expected)
    set(failures "${failures}\n${what}: ${actual}\n  expected: ${expected}" PARENT_SCOPE)
  endif()
endfunction()

string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${dump}")
list(TRANSFORM import_lines REPLACE "DLL Name: " "")
expect_same_list("imported DLLs" "${import_lines}" "${expected_imports}")

string(REGEX MATCH "DLL Name: SHLWAPI.dll\n([^\n]+\n)*" shlwapi_block "${dump}")
if(NOT shlwapi_block MATCHES "[ \t]${qisearch_thunk}[ \t]" OR shlwapi_block MATCHES "QISearch")
  set(failures "${failures}\nQISearch is not imported from SHLWAPI.dll by ordinal 219:\n${shlwapi_block}")
endif()

string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([ \t]+\\[ *[0-9]+\\] [^\n]+\n)*" name_table "${dump}")
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" export_names "${name_table}")
list(TRANSFORM export_names REPLACE "\t\\[ *[0-9]+\\] " "")
expect_same_list("exported names" "${export_names}" "${expected_exports}")

# No export without a name (an ordinal-only export has an address but no name).
string(REGEX MATCH "Export Address Table[ \t]+([0-9a-fA-F]+)\n" address_count "${dump}")
math(EXPR address_count "0x${CMAKE_MATCH_1}")
list(LENGTH expected_exports export_count)
if(NOT address_count EQUAL export_count)
  set(failures "${failures}\n${address_count} exported addresses, expected ${export_count}")
endif()

if(failures)
  message(FATAL_ERROR "${DLL}:${failures}")
endif()
message(STATUS "${DLL}: imports ${import_lines}; exports ${export_names}")
