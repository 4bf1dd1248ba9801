# Clean Debian system roots for what must not change the machine itself (the
# packages' builds and tests, the Wine that runs 32-bit programs), sourced by
# scripts/build-debian-packages, tests/package/clean_root_test.sh and
# tests/windows/wow64_root_test.sh. A root
# is made once per release and package list by mmdebstrap and kept as a
# tarball; each use unpacks a fresh copy.

# Prints the path of the cached tarball of RELEASE's root named NAME, making
# it first with mmdebstrap's further ARGS when it is missing. The name has to
# change whenever the package list does: callers put a hash of it in NAME.
# usage: cached_root CACHE_DIR RELEASE NAME MMDEBSTRAP_ARGS...
cached_root() {
  local cache=$1 release=$2 name=$3
  shift 3
  local tarball=$cache/$release-$name.tar
  if [ ! -f "$tarball" ]; then
    echo "Making a $release system root (cached in $tarball)" >&2
    mkdir -p "$cache"
    mmdebstrap --quiet --format=tar "$@" "$release" "$tarball.part" >&2
    mv "$tarball.part" "$tarball"
  fi
  echo "$tarball"
}

# Runs a command as root inside the unpacked root ROOT, in mount and PID
# namespaces of its own, with the environment of a login (bubblewrap cannot
# make its namespaces inside a plain chroot, so the root is entered with
# pivot_root). ROOT_BINDS (folders, by spaces) appear inside at the same
# paths.
# usage: [ROOT_BINDS=...] in_root ROOT COMMAND...
in_root() {
  unshare --mount --pid --fork --kill-child -- bash -euc '
    root=$1; shift
    mount --make-rprivate /
    mount --bind "$root" "$root"
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount --rbind /sys "$root/sys"
    mount -t tmpfs tmpfs "$root/tmp"
    mount -t tmpfs tmpfs "$root/run"
    for folder in ${ROOT_BINDS:-}; do
      mkdir -p "$root$folder"
      mount --bind "$folder" "$root$folder"
    done
    cd "$root"
    mkdir -p .host
    pivot_root . .host
    umount -l /.host
    rmdir /.host
    exec env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"' in_root "$@"
}

# The Frameworks build profile of RELEASE's packages: Debian 12 has only
# Frameworks 5; later releases get the default, Frameworks 6.
kde_profile_of() {
  case $1 in
    bookworm) echo pkg.kvdthumb.kf5 ;;
    trixie) echo "" ;;
    *) echo "unknown Debian release '$1' (bookworm or trixie)" >&2; return 2 ;;
  esac
}
