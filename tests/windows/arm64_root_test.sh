#!/usr/bin/env bash
# Runs the tests of the ARM64 Windows build in BUILD_DIR (the windows-arm64
# preset's, its packages made by scripts/build-windows-arm64) under Debian
# 13's arm64 Wine, which runs ARM64 Windows programs: every Wine test of the
# DLLs and the installers' scenarios on the ARM64 packages. That Wine lives
# in a clean Debian 13 arm64 root, cached in CACHE_DIR
# (scripts/lib/arm64-roots.sh), whose programs the kernel runs through
# qemu-user for as long as the tests run. The expected bitmaps are written
# first, here, by the x64 build's native writer. The source tree, which holds
# BUILD_DIR, appears inside at its own path, and the tests run as the owner
# of BUILD_DIR. Needs root.
#
# usage: arm64_root_test.sh BUILD_DIR CACHE_DIR
set -euo pipefail
build=$(realpath "$1") cache=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/debian-roots.sh"
. "$here/../../scripts/lib/arm64-roots.sh"

ctest --test-dir "$build" --output-on-failure -R '^write_expectations$'

tools=$(arm64_tools_root "$cache")
tarball=$(arm64_wine_root "$cache" "$tools")
work=$(mktemp -d -p "$cache")
trap 'rm -rf "$work"' EXIT
tar -xf "$tarball" -C "$work"

source_dir=$(cd "$here/../.." && pwd)
owner=$(stat -c %u:%g "$build")
# As in wow64_root_test.sh: 24 bits for exact pixels, and a shell as the
# root's first process. The tables were read where the DLLs were built, and
# the expectations are written.
ROOT_BINDS="$source_dir" with_aarch64_programs "$tools" in_root "$work" \
  env QEMU_CPU=neoverse-n1 bash -c '"$@"; exit $?' first-process \
  setpriv --reuid="${owner%:*}" --regid="${owner#*:}" --clear-groups env HOME=/tmp \
  xvfb-run -a -s "-screen 0 1024x768x24" \
  ctest --test-dir "$build" --output-on-failure -E 'import_export_tables$|^write_expectations$' \
  --fixture-exclude-setup thumbnail_expectations
