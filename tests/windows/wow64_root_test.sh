#!/usr/bin/env bash
# Runs the Windows tests that need a Wine able to run 32-bit programs, as a
# 64-bit Windows does: the 32-bit DLLs' tests (the i686 build inside BUILD_DIR)
# and the installers' scenarios, whose packages carry both bitnesses. That
# Wine (Debian's wine32, i386 multiarch) would upgrade many of the machine's
# own packages to match, so it lives in a clean Debian 12 root of its own with
# both architectures, made once per package list and cached in CACHE_DIR
# (scripts/lib/debian-roots.sh). The source tree, which holds BUILD_DIR, appears
# inside at its own path, and the tests run as the owner of BUILD_DIR. Needs
# root.
#
# usage: wow64_root_test.sh BUILD_DIR CACHE_DIR
set -euo pipefail
build=$(realpath "$1") cache=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/debian-roots.sh"

# Wine for both bitnesses, a display for the preview handler's windows, CTest
# and mingw-w64's binutils for the table checks, what the installers are
# built and signed with, the libraries of the native expectations writer, and
# umount for entering the root.
root_packages=wine,wine32:i386,wine64,xvfb,xauth,cmake,binutils-mingw-w64-i686,binutils-mingw-w64-x86-64
root_packages+=,wixl,msitools,osslsigncode,openssl,libtinyxml2.6.2v5,mount
tarball=$(cached_root "$cache" bookworm "wow64-$(sha1sum <<<"$root_packages" | cut -c1-12)" \
  --variant=apt --architectures=amd64,i386 --include="$root_packages")
work=$(mktemp -d -p "$cache")
trap 'rm -rf "$work"' EXIT
mkdir "$work/root"
tar -xf "$tarball" -C "$work/root"

source_dir=$(cd "$here/../.." && pwd)
owner=$(stat -c %u:%g "$build")
# 24 bits, so that the pixels read back are the pixels drawn (as in scripts/test).
# A shell stays the root's first process: xvfb-run, as that process, would
# wait for ever for the signal that tells it the display is ready.
ROOT_BINDS="$source_dir" in_root "$work/root" bash -c '"$@"; exit $?' first-process \
  setpriv --reuid="${owner%:*}" --regid="${owner#*:}" --clear-groups env HOME=/tmp \
  xvfb-run -a -s "-screen 0 1024x768x24" bash -euc '
    ctest --test-dir "$1/i686" --output-on-failure
    ctest --test-dir "$1" --output-on-failure -L installer' wow64 "$build"
