# The ARM64 packages' scenarios, under an ARM64 Wine (tests/windows/arm64_root_test.sh):
# on the packages that scripts/build-windows-arm64 makes into dist of this
# build, and on the x64 packages that scripts/test-windows-arm64 puts into
# x64-packages, which must stop there. That Wine runs no x86 programs: the
# x86 DLLs' classes are checked in the registry alone.

set(msi_prefix "${CMAKE_BINARY_DIR}/wine-prefix-msi")
set(wine_run "${PROJECT_SOURCE_DIR}/cmake/wine-run")
# As in the x64 build: a fresh prefix that each scenario copies, with the
# user's 32-bit classes of every 64-bit Windows. The machine's 32-bit classes
# are never empty on Windows, where x86 programs bring their own, but are in
# an ARM64 Wine, which has none: one class stands for them, so that removal
# finds the key as Windows has it.
add_test(NAME msi_prefix_setup
  COMMAND sh -c "\"$0\" \"$1\" --start && \"$0\" \"$1\" \"$1/drive_c/windows/system32/reg.exe\" add 'HKCU\\Software\\Classes\\Wow6432Node' /f && \"$0\" \"$1\" \"$1/drive_c/windows/system32/reg.exe\" add 'HKLM\\Software\\Classes\\Wow6432Node\\CLSID\\{44444444-5555-6666-7777-888888888888}' /f && \"$0\" \"$1\" --stop"
          "${wine_run}" "${msi_prefix}")
set_tests_properties(msi_prefix_setup PROPERTIES FIXTURES_SETUP msi_prefix TIMEOUT 300 LABELS installer)

foreach(scenario per-machine per-user x64-refused)
  set(test msi_arm64_${scenario})
  add_test(NAME ${test} COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/msi-scenario" ${scenario})
  set_tests_properties(${test} PROPERTIES
    FIXTURES_REQUIRED "msi_prefix;thumbnail_expectations"
    TIMEOUT 900
    LABELS installer
    ENVIRONMENT "TEMPLATE_PREFIX=${msi_prefix};WINE_RUN=${wine_run};VERSION=${PROJECT_VERSION};PACKAGE_ARCH=-arm64;WINE_EMULATED=1;PACKAGES=${CMAKE_BINARY_DIR}/dist;X64_PACKAGES=${CMAKE_BINARY_DIR}/x64-packages;BIN=${CMAKE_RUNTIME_OUTPUT_DIRECTORY};BIN32=;EXPECTATIONS=${CMAKE_BINARY_DIR}/tests/windows/expectations;WORK=${CMAKE_CURRENT_BINARY_DIR}/${scenario}")
endforeach()
