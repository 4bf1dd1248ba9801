# The Debian 13 roots of the ARM64 Windows build and its tests, sourced by
# scripts/make-arm64-toolchain, scripts/build-windows-arm64,
# scripts/test-windows-arm64 and tests/windows/arm64_root_test.sh (with
# scripts/lib/debian-roots.sh before it):
#   the tools root   Debian 13 for this machine, with clang 19 and lld 19 (the
#                    cross toolchain is built and used in it) and what makes
#                    a root of another architecture: Debian 13's mmdebstrap,
#                    qemu-user and arch-test
#   the Wine root    Debian 13 for arm64 with Wine, which runs ARM64 Windows
#                    programs, under qemu-user
# Each is made once per package list and cached as a tarball.

arm64_tools_packages=clang-19,lld-19,llvm-19,cmake,ninja-build,make,python3,xz-utils,bzip2,libboost-dev,mmdebstrap,qemu-user,arch-test,mount

# Prints the path of the tools root's tarball, making it first when missing.
# usage: arm64_tools_root CACHE_DIR
arm64_tools_root() {
  cached_root "$1" trixie "arm64-tools-$(sha1sum <<<"$arm64_tools_packages" | cut -c1-12)" \
    --variant=apt --include="$arm64_tools_packages"
}

# Runs COMMAND with the kernel running aarch64 programs through the tools
# root's static qemu, and takes that rule away afterwards whatever happens:
# it is the whole machine's. F: the kernel opens qemu now, so that it serves
# inside any root; P: programs see their own argv[0]. The rule's name is this
# process's own, so that runs at the same time do not remove each other's.
# The default processor model makes Wine loop on an illegal instruction (the
# C library's branch protection): callers pass QEMU_CPU=neoverse-n1 on to the
# programs they start.
# usage: with_aarch64_programs TOOLS_TARBALL COMMAND...
with_aarch64_programs() {
  local tools=$1
  shift
  local binfmt=/proc/sys/fs/binfmt_misc
  [ -f "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  local qemu_dir
  qemu_dir=$(mktemp -d)
  # qemu takes its P mode from the name it is started by.
  tar -xOf "$tools" ./usr/bin/qemu-aarch64 >"$qemu_dir/aarch64-binfmt-P"
  chmod 755 "$qemu_dir/aarch64-binfmt-P"
  local rule=kvdthumb-aarch64-$$
  local magic='\x7f\x45\x4c\x46\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00'
  local mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":$rule:M::$magic:$mask:$qemu_dir/aarch64-binfmt-P:PF" >"$binfmt/register"
  rm -r "$qemu_dir"
  (
    trap 'echo -1 >"$binfmt/$rule"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    "$@"
  )
}

arm64_wine_packages=wine,wine64,xvfb,xauth,cmake,mawk,mount

# Prints the path of the Wine root's tarball, making it first when missing:
# Debian 12's mmdebstrap cannot make a root of another architecture without
# a qemu of its own, so Debian 13's makes it, run in the tools root.
# usage: arm64_wine_root CACHE_DIR TOOLS_TARBALL
arm64_wine_root() {
  local cache=$1 tools=$2
  local tarball
  tarball=$cache/trixie-arm64-wine-$(sha1sum <<<"$arm64_wine_packages" | cut -c1-12).tar
  [ -f "$tarball" ] && { echo "$tarball"; return; }
  echo "Making a Debian 13 arm64 root with Wine (cached in $tarball)" >&2
  local work
  work=$(realpath "$(mktemp -d -p "$cache")")
  mkdir "$work/root" "$work/out"
  tar -xf "$tools" -C "$work/root"
  local status=0
  ROOT_BINDS="$work/out" with_aarch64_programs "$tools" in_root "$work/root" \
    env QEMU_CPU=neoverse-n1 mmdebstrap --quiet --mode=root --format=tar --architectures=arm64 --variant=apt \
    --include="$arm64_wine_packages" trixie "$work/out/root.tar" >&2 || status=$?
  [ "$status" -eq 0 ] && mv "$work/out/root.tar" "$tarball"
  rm -rf "$work"
  [ "$status" -eq 0 ] || return $status
  echo "$tarball"
}
