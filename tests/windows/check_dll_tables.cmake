# Checks the import and export tables of a built DLL:
#   cmake (-DOBJDUMP=<mingw objdump> | -DREADOBJ=<llvm-readobj>) -DDLL=<KvdThumbDll.dll> -DEXPORTS=<name,...>
#         [-DEXTRA_IMPORT=<DLL>] [-DNO_IMPORT=<DLL>]
#         -P check_dll_tables.cmake
# GNU objdump misreads the ordinal imports of ARM64 DLLs: those are read with llvm-readobj.
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
# Each reader sets import_lines (the imported DLLs), shlwapi_block (what is
# imported from SHLWAPI.dll), qisearch_by_ordinal, export_names and
# address_count (the exported addresses).
function(read_tables)  # TOOL ARGUMENTS...: sets dump
  execute_process(COMMAND ${ARGN} "${DLL}" OUTPUT_VARIABLE output RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} ${DLL} failed: ${result}")
  endif()
  set(dump "${output}" PARENT_SCOPE)
endfunction()

macro(read_with_objdump)
  read_tables("${OBJDUMP}" -p)
  string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${dump}")
  list(TRANSFORM import_lines REPLACE "DLL Name: " "")
  # QISearch, imported by ordinal 219 (0xdb): the import thunk is the ordinal
  # flag (the top bit of a 32-bit DLL's 32-bit thunk, of a 64-bit one's 64-bit
  # thunk) and the ordinal.
  if(dump MATCHES "\nMagic[ \t]+010b")
    set(qisearch_thunk 800000db)
  else()
    set(qisearch_thunk 80000000000000db)
  endif()
  string(REGEX MATCH "DLL Name: SHLWAPI.dll\n([^\n]+\n)*" shlwapi_block "${dump}")
  set(qisearch_by_ordinal OFF)
  if(shlwapi_block MATCHES "[ \t]${qisearch_thunk}[ \t]")
    set(qisearch_by_ordinal ON)
  endif()
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([ \t]+\\[ *[0-9]+\\] [^\n]+\n)*" name_table "${dump}")
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" export_names "${name_table}")
  list(TRANSFORM export_names REPLACE "\t\\[ *[0-9]+\\] " "")
  string(REGEX MATCH "Export Address Table[ \t]+([0-9a-fA-F]+)\n" address_count "${dump}")
  math(EXPR address_count "0x${CMAKE_MATCH_1}")
endmacro()

macro(read_with_readobj)
  read_tables("${READOBJ}" --coff-imports --coff-exports)
  string(REGEX MATCHALL "Import {\n  Name: [^\n]+" import_lines "${dump}")
  list(TRANSFORM import_lines REPLACE "Import {\n  Name: " "")
  # An import by ordinal alone has an empty name: "Symbol:  (219)".
  string(REGEX MATCH "Name: SHLWAPI.dll\n[^}]*" shlwapi_block "${dump}")
  set(qisearch_by_ordinal OFF)
  if(shlwapi_block MATCHES "\n  Symbol:  \\(219\\)\n")
    set(qisearch_by_ordinal ON)
  endif()
  string(REGEX MATCHALL "Export {\n  Ordinal: [0-9]+\n  Name: [^\n]+" export_names "${dump}")
  list(TRANSFORM export_names REPLACE "Export {\n  Ordinal: [0-9]+\n  Name: " "")
  string(REGEX MATCHALL "Export {" addresses "${dump}")
  list(LENGTH addresses address_count)
endmacro()

if(READOBJ)
  read_with_readobj()
else()
  read_with_objdump()
endif()

set(failures "")

function(expect_same_list what actual expected)
  list(SORT actual CASE INSENSITIVE)
  list(SORT expected CASE INSENSITIVE)
  if(NOT actual STREQUAL expected)
    set(failures "${failures}\n${what}: ${actual}\n  expected: ${expected}" PARENT_SCOPE)
  endif()
endfunction()

expect_same_list("imported DLLs" "${import_lines}" "${expected_imports}")
if(NOT qisearch_by_ordinal OR shlwapi_block MATCHES "QISearch")
  set(failures "${failures}\nQISearch is not imported from SHLWAPI.dll by ordinal 219:\n${shlwapi_block}")
endif()
expect_same_list("exported names" "${export_names}" "${expected_exports}")
# No export without a name (an ordinal-only export has an address but no name).
list(LENGTH expected_exports export_count)
if(NOT address_count EQUAL export_count)
  set(failures "${failures}\n${address_count} exported addresses, expected ${export_count}")
endif()

if(failures)
  message(FATAL_ERROR "${DLL}:${failures}")
endif()
message(STATUS "${DLL}: imports ${import_lines}; exports ${export_names}")
