#!/usr/bin/env bash
# Installs the built Debian packages on a clean Debian 12 system root and uses
# them as a user would: GIO recognises documents, GNOME's thumbnail factory
# (sandboxed, as on a desktop) caches the exact thumbnail once kvd-doctor --fix
# has removed the failure it recorded before the install, KIO's preview job
# finds the KDE plugin in the system folder, and apt-get purge leaves no file
# of ours and no trace of the type. Needs root: the system root is entered
# with mount and PID namespaces of its own (bubblewrap cannot make its
# namespaces inside a plain chroot; see tests/system_root.sh).
#
# usage: clean_root_test.sh DEB_DIR SAMPLES_DIR BUILD_DIR CACHE_DIR
set -euo pipefail
debs=$1 samples=$2 build=$3 cache=$4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../system_root.sh"

fail() { echo "FAIL: $*" >&2; exit 1; }

# What the root holds besides Debian's required packages: what a desktop
# brings (GIO, GNOME's thumbnail factory and its sandbox, KIO's thumbnail
# worker) and our packages' libraries, so that installing needs no download.
root_packages=shared-mime-info,libglib2.0-bin,python3-gi,gir1.2-gnomedesktop-3.0,bubblewrap,kio-extras
root_packages+=,libkf5kiowidgets5,libkf5filemetadata3,libpng16-16,libtinyxml2.6.2v5,passwd,mount
mkdir -p "$cache"
work=$(mktemp -d -p "$cache")
trap 'rm -rf "$work"' EXIT
root=$work/root
unpack_system_root "$root" "$cache" "$root_packages"

in_root() { in_system_root "$root" "$@"; }
# The same as the user tester, with the environment of a desktop session
# (Qt's offscreen platform stands in for its display).
as_user() {
  in_root runuser -u tester -- env -i PATH=/usr/bin:/bin HOME=/home/tester LANG=C.UTF-8 \
    XDG_DATA_DIRS=/usr/local/share:/usr/share XDG_RUNTIME_DIR=/home/tester/.run QT_QPA_PLATFORM=offscreen "$@"
}

in_root useradd --create-home tester
in_root install -d -o tester -g tester -m 700 /home/tester/.run
pictures=/home/tester/Pictures
mkdir -p "$root$pictures" "$root/opt/kvd-test"
cp "$samples/landscape.kvd" "$root$pictures/painting.kvd"
cp "$samples/landscape.kvd" "$root$pictures/painting-copy"
cp "$here/../linux/gnome_factory.py" "$build/tests/linux/png-to-raw" "$build/tests/package/kio-preview-probe" \
  "$root/opt/kvd-test/"
in_root chown -R tester: "$pictures"
factory=/opt/kvd-test/gnome_factory.py

# Before the install the factory finds no thumbnailer, and records the
# failure as GNOME Files does.
status=0
as_user "$factory" thumbnail "$pictures/painting.kvd" 2>/dev/null || status=$?
[ "$status" = 4 ] || fail "before the install the factory exited $status, not 4 (no thumbnailer)"
as_user "$factory" fail "$pictures/painting.kvd"

cp "$debs"/kvdthumb_*.deb "$debs"/kvdthumb-kde_*.deb "$root/opt/kvd-test/"
in_root sh -c 'apt-get install -y -q /opt/kvd-test/*.deb >/opt/kvd-test/install.log 2>&1' ||
  { cat "$root/opt/kvd-test/install.log" >&2; fail "apt-get install"; }
in_root dpkg-query -L kvdthumb kvdthumb-kde >"$work/files"
grep -q "^/usr/bin/kvd-doctor$" "$work/files" || fail "kvd-doctor is not in kvdthumb"
grep -q "/qt5/plugins/kf5/kfilemetadata/kvdmetadataextractor.so$" "$work/files" ||
  fail "the metadata extractor is not in kvdthumb-kde"

for file in painting.kvd painting-copy; do
  detected=$(as_user gio info -a standard::content-type "$pictures/$file" | sed -n 's/^ *standard::content-type: //p')
  [ "$detected" = application/x-kvd ] || fail "GIO detects $file as '$detected'"
done
# A picture icon until the thumbnail is drawn.
icons=$(as_user gio info -a standard::icon "$pictures/painting.kvd")
grep -q "image-x-generic" <<<"$icons" || fail "the type's icons are not a picture's: $icons"

# The failure recorded before the install keeps the factory from trying,
# until kvd-doctor --fix removes it.
status=0
as_user "$factory" thumbnail "$pictures/painting.kvd" 2>/dev/null || status=$?
[ "$status" = 3 ] || fail "the recorded failure did not stop the factory (exit $status)"
status=0
report=$(as_user kvd-doctor) || status=$?
[ "$status" = 1 ] && [ "$(grep -c '^WRONG' <<<"$report")" = 1 ] && grep -q "^WRONG  failure markers: 1 " <<<"$report" ||
  fail "kvd-doctor before --fix (exit $status):"$'\n'"$report"
as_user kvd-doctor --fix >/dev/null || fail "kvd-doctor --fix did not repair everything"
report=$(as_user kvd-doctor) || fail "kvd-doctor after --fix:"$'\n'"$report"

cached=$(as_user "$factory" thumbnail "$pictures/painting.kvd") || fail "GNOME's factory made no thumbnail"
case $cached in /home/tester/.cache/thumbnails/normal/*.png) ;; *) fail "thumbnail cached at '$cached'" ;; esac
in_root sh -c "/opt/kvd-test/png-to-raw '$cached' /opt/kvd-test/cached.raw >/dev/null &&
  kvd-thumbnail --raw -s 128 '$pictures/painting.kvd' /opt/kvd-test/expected.raw"
cmp -s "$root/opt/kvd-test/cached.raw" "$root/opt/kvd-test/expected.raw" ||
  fail "the cached thumbnail's pixels differ from kvd-thumbnail's"

# On the copy: KIO would take painting.kvd's thumbnail from the cache that
# GNOME's factory shares with it.
preview=$(as_user /opt/kvd-test/kio-preview-probe "$pictures/painting-copy" 128 2>"$work/kio.log") ||
  { cat "$work/kio.log" >&2; fail "KIO's preview job found no preview"; }
[ "$preview" = "128 x 80" ] || fail "KIO's preview is $preview, not 128 x 80"

in_root apt-get purge -y -q kvdthumb kvdthumb-kde >"$work/purge.log" 2>&1 || { cat "$work/purge.log" >&2; fail "apt-get purge"; }
while read -r path; do
  if [ -d "$root$path" ] && [ ! -L "$root$path" ]; then
    in_root dpkg-query -S "$path" >/dev/null 2>&1 || fail "purge left the folder $path"
  elif [ -e "$root$path" ] || [ -L "$root$path" ]; then
    fail "purge left $path"
  fi
done < <(grep -vx -e "/." -e "" "$work/files")
! compgen -G "$root/var/lib/dpkg/info/kvdthumb*" >/dev/null || fail "purge left dpkg's records of kvdthumb"
! grep -qr "x-kvd" "$root/usr/share/mime" || fail "the MIME database still knows application/x-kvd"
detected=$(as_user gio info -a standard::content-type "$pictures/painting.kvd" | sed -n 's/^ *standard::content-type: //p')
[ "$detected" != application/x-kvd ] || fail "GIO still detects application/x-kvd after purge"
echo "Debian packages on a clean Debian 12 root OK"
