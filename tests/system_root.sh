# Clean Debian 12 system roots for the tests that must not change the
# machine itself, sourced by their scripts. Needs root: a root is entered
# with mount and PID namespaces of its own (bubblewrap cannot make its
# namespaces inside a plain chroot).

# Unpacks a fresh root into FOLDER from a tarball cached in CACHE_DIR (which
# exists), named by what it holds; mmdebstrap makes the tarball when it is missing.
# PACKAGES is mmdebstrap's --include list; further arguments go to mmdebstrap.
unpack_system_root() {  # FOLDER CACHE_DIR PACKAGES [MMDEBSTRAP_ARGUMENTS...]
  local folder=$1 cache=$2 packages=$3
  shift 3
  local tarball
  tarball=$cache/bookworm-$(sha1sum <<<"$packages${*:+ $*}" | cut -c1-12).tar
  if [ ! -f "$tarball" ]; then
    echo "Making a Debian 12 system root (cached in $tarball)"
    mmdebstrap --quiet --variant=apt --format=tar --include="$packages" "$@" bookworm "$tarball.part"
    mv "$tarball.part" "$tarball"
  fi
  mkdir "$folder"
  tar -xf "$tarball" -C "$folder"
}

# Runs a command inside ROOT as root, in mount and PID namespaces of its own,
# with the environment of a login. ROOT_BINDS (folders, by spaces) appear
# inside at the same paths.
in_system_root() {  # ROOT COMMAND [ARGUMENTS...]
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
    exec env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"' in_system_root "$@"
}
