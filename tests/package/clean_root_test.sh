#!/usr/bin/env bash
# Installs the built Debian packages on a clean system root of their Debian
# release and uses them as a user would: GIO recognises documents, GNOME's
# thumbnail factory (sandboxed, as on a desktop) caches the exact thumbnail
# once kvd-doctor --fix has removed the failure it recorded before the
# install, KIO's preview job finds the KDE plugin in the system folder, real
# Dolphin caches the exact thumbnails, KFileMetaData finds exactly our
# extractor, and apt-get purge leaves no file of ours and no trace of the
# type. Needs root: the system root is entered with mount and PID namespaces
# of its own.
#
# usage: clean_root_test.sh RELEASE DEB_DIR SAMPLES_DIR KDE_PROBE CACHE_DIR
set -euo pipefail
release=$1 debs=$2 samples=$3 probe=$4 cache=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/debian-roots.sh"

fail() { echo "FAIL ($release): $*" >&2; exit 1; }

# What the root holds besides Debian's required packages: what a desktop
# brings (GIO, GNOME's thumbnail factory and its sandbox, Dolphin and KIO's
# thumbnail worker, a display server for Dolphin) and our packages'
# dependencies, so that installing needs no download.
case $release in
  bookworm) gnome_desktop=gir1.2-gnomedesktop-3.0 ;;
  *) gnome_desktop=gir1.2-gnomedesktop-4.0 ;;
esac
root_packages=shared-mime-info,libglib2.0-bin,python3-gi,$gnome_desktop,bubblewrap,kio-extras,dolphin,dbus,xvfb,xauth
root_packages+=,passwd,mount
our_dependencies=$(for deb in "$debs"/kvdthumb_*.deb "$debs"/kvdthumb-kde_*.deb; do dpkg-deb -f "$deb" Depends; done |
  tr ',' '\n' | sed 's/^ *//' | grep -v '^kvdthumb ' | sort -u | paste -sd, -)
tarball=$(cached_root "$cache" "$release" "test-$(sha1sum <<<"$root_packages;$our_dependencies" | cut -c1-12)" \
  --variant=apt --include="$root_packages" --customize-hook="chroot \"\$1\" apt-get satisfy -y -q '$our_dependencies' >/dev/null")

work=$(mktemp -d -p "$cache")
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir "$root"
tar -xf "$tarball" -C "$root"

# The same as the user tester, with the environment of a desktop session
# (Qt's offscreen platform stands in for its display).
as_user() {
  in_root "$root" runuser -u tester -- env -i PATH=/usr/bin:/bin HOME=/home/tester LANG=C.UTF-8 \
    XDG_DATA_DIRS=/usr/local/share:/usr/share XDG_RUNTIME_DIR=/home/tester/.run QT_QPA_PLATFORM=offscreen "$@"
}
# Compares a raw picture in the root with kvd-thumbnail's for the document.
# usage: same_as_thumbnailer RAW DOCUMENT SIZE
same_as_thumbnailer() {
  in_root "$root" kvd-thumbnail --raw -s "$3" "$2" /opt/kvd-test/expected.raw
  cmp -s "$root$1" "$root/opt/kvd-test/expected.raw"
}

# Real Dolphin, on a display of its own, opens the folder of sample documents
# that nothing has cached yet; each thumbnail it caches must have exactly
# kvd-thumbnail's pixels, and the document without a preview gets none. A
# desktop makes ~/.cache/thumbnails in a fresh home; KIO caches nothing
# without it.
check_dolphin_cache() {
  local name uris=() cached
  for name in landscape portrait transparent not-a-container; do uris+=("file://$documents/$name.kvd"); done
  as_user mkdir -p /home/tester/.cache/thumbnails
  as_user dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    cd /home/tester/.cache/thumbnails
    QT_QPA_PLATFORM=xcb dolphin "$0" >/home/tester/dolphin.log 2>&1 &
    for _ in $(seq 120); do
      missing=0
      for uri in "$@"; do
        name=$(printf %s "$uri" | md5sum | cut -d" " -f1).png
        [ -f "normal/$name" ] || [ -f "large/$name" ] || missing=1
      done
      [ "$missing" = 0 ] && break
      sleep 0.5
    done
    kill %1' "$documents" "${uris[@]}"
  for uri in "${uris[@]}"; do
    name=$(printf %s "$uri" | md5sum | cut -d" " -f1).png
    cached=$(cd "$root/home/tester/.cache/thumbnails" && ls -d {normal,large}/"$name" 2>/dev/null | head -1) ||
      true
    [ -n "$cached" ] || { cat "$root/home/tester/dolphin.log" >&2; fail "Dolphin cached no thumbnail of $uri"; }
    local size=128
    [ "${cached%%/*}" = normal ] || size=256
    as_user /opt/kvd-test/kde-probe square "/home/tester/.cache/thumbnails/$cached" "$size" /home/tester/dolphin.raw >/dev/null
    same_as_thumbnailer /home/tester/dolphin.raw "${uri#file://}" "$size" ||
      fail "Dolphin's cached thumbnail of $uri differs from kvd-thumbnail's"
  done
  name=$(printf %s "file://$documents/no-thumbnail.kvd" | md5sum | cut -d" " -f1).png
  ! compgen -G "$root/home/tester/.cache/thumbnails/*/$name" >/dev/null || fail "Dolphin cached a thumbnail of no-thumbnail.kvd"
}

in_root "$root" useradd --create-home tester
in_root "$root" install -d -o tester -g tester -m 700 /home/tester/.run
pictures=/home/tester/Pictures documents=/home/tester/Documents
mkdir -p "$root$pictures" "$root$documents" "$root/opt/kvd-test" "$root/home/tester/.config"
cp "$samples/landscape.kvd" "$root$pictures/painting.kvd"
cp "$samples/landscape.kvd" "$root$pictures/painting-copy"
cp "$samples"/*.kvd "$root$documents/"
cp "$here/../linux/gnome_factory.py" "$probe" "$root/opt/kvd-test/"
# Dolphin's preview plugins as a user saved them before ours was installed.
printf '[PreviewSettings]\nPlugins=imagethumbnail,svgthumbnail\n' >"$root/home/tester/.config/dolphinrc"
in_root "$root" chown -R tester: /home/tester
factory=/opt/kvd-test/gnome_factory.py

# Before the install the factory finds no thumbnailer, and records the
# failure as GNOME Files does.
status=0
as_user "$factory" thumbnail "$pictures/painting.kvd" 2>/dev/null || status=$?
[ "$status" = 4 ] || fail "before the install the factory exited $status, not 4 (no thumbnailer)"
as_user "$factory" fail "$pictures/painting.kvd"

cp "$debs"/kvdthumb_*.deb "$debs"/kvdthumb-kde_*.deb "$root/opt/kvd-test/"
in_root "$root" sh -c 'apt-get install -y -q /opt/kvd-test/*.deb >/opt/kvd-test/install.log 2>&1' ||
  { cat "$root/opt/kvd-test/install.log" >&2; fail "apt-get install"; }
in_root "$root" dpkg-query -L kvdthumb kvdthumb-kde >"$work/files"
grep -q "^/usr/bin/kvd-doctor$" "$work/files" || fail "kvd-doctor is not in kvdthumb"
frameworks=$([ "$release" = bookworm ] && echo 5 || echo 6)
for plugin in thumbcreator/kvdthumbnail kfilemetadata/kvdmetadataextractor; do
  grep -q "/qt$frameworks/plugins/kf$frameworks/$plugin.so$" "$work/files" ||
    fail "kvdthumb-kde has no $plugin for Frameworks $frameworks"
done

for file in painting.kvd painting-copy; do
  detected=$(as_user gio info -a standard::content-type "$pictures/$file" | sed -n 's/^ *standard::content-type: //p')
  [ "$detected" = application/x-kvd ] || fail "GIO detects $file as '$detected'"
done
# A picture icon until the thumbnail is drawn.
icons=$(as_user gio info -a standard::icon "$pictures/painting.kvd")
grep -q "image-x-generic" <<<"$icons" || fail "the type's icons are not a picture's: $icons"

# The failure recorded before the install keeps the factory from trying,
# and Dolphin's saved list leaves our plugin out, until kvd-doctor --fix
# repairs both.
status=0
as_user "$factory" thumbnail "$pictures/painting.kvd" 2>/dev/null || status=$?
[ "$status" = 3 ] || fail "the recorded failure did not stop the factory (exit $status)"
status=0
report=$(as_user kvd-doctor) || status=$?
[ "$status" = 1 ] && [ "$(grep -c '^WRONG' <<<"$report")" = 2 ] && grep -q "^WRONG  failure markers: 1 " <<<"$report" &&
  grep -q "^WRONG  Dolphin: the preview plugins saved in .* leave out kvdthumbnail" <<<"$report" &&
  grep -q "^ok     KDE plugin: /usr/lib/.*/qt$frameworks/plugins/kf$frameworks/thumbcreator/kvdthumbnail.so$" <<<"$report" ||
  fail "kvd-doctor before --fix (exit $status):"$'\n'"$report"
as_user kvd-doctor --fix >/dev/null || fail "kvd-doctor --fix did not repair everything"
report=$(as_user kvd-doctor) || fail "kvd-doctor after --fix:"$'\n'"$report"

cached=$(as_user "$factory" thumbnail "$pictures/painting.kvd") || fail "GNOME's factory made no thumbnail"
case $cached in /home/tester/.cache/thumbnails/normal/*.png) ;; *) fail "thumbnail cached at '$cached'" ;; esac
as_user /opt/kvd-test/kde-probe square "$cached" 128 /home/tester/cached.raw >/dev/null
same_as_thumbnailer /home/tester/cached.raw "$pictures/painting.kvd" 128 ||
  fail "the cached thumbnail's pixels differ from kvd-thumbnail's"

# On the copy: KIO would take painting.kvd's thumbnail from the cache that
# GNOME's factory shares with it.
preview=$(as_user /opt/kvd-test/kde-probe preview "$pictures/painting-copy" 128 /home/tester/preview.raw 2>"$work/kio.log") ||
  { cat "$work/kio.log" >&2; fail "KIO's preview job found no preview"; }
[ "$preview" = "128 x 80" ] || fail "KIO's preview is $preview, not 128 x 80"
same_as_thumbnailer /home/tester/preview.raw "$pictures/painting-copy" 128 || fail "KIO's preview differs from kvd-thumbnail's"

extracted=$(as_user /opt/kvd-test/kde-probe extract "$pictures/painting-copy" 2>"$work/extract.log") ||
  { cat "$work/extract.log" >&2; fail "KFileMetaData found no extractor"; }
[ "$extracted" = "1 extractors; 1600 x 1000" ] || fail "KFileMetaData: $extracted, not our extractor's 1600 x 1000"

check_dolphin_cache

in_root "$root" apt-get purge -y -q kvdthumb kvdthumb-kde >"$work/purge.log" 2>&1 || { cat "$work/purge.log" >&2; fail "apt-get purge"; }
while read -r path; do
  if [ -d "$root$path" ] && [ ! -L "$root$path" ]; then
    in_root "$root" dpkg-query -S "$path" >/dev/null 2>&1 || fail "purge left the folder $path"
  elif [ -e "$root$path" ] || [ -L "$root$path" ]; then
    fail "purge left $path"
  fi
done < <(grep -vx -e "/." -e "" "$work/files")
! compgen -G "$root/var/lib/dpkg/info/kvdthumb*" >/dev/null || fail "purge left dpkg's records of kvdthumb"
! grep -qr "x-kvd" "$root/usr/share/mime" || fail "the MIME database still knows application/x-kvd"
detected=$(as_user gio info -a standard::content-type "$pictures/painting.kvd" | sed -n 's/^ *standard::content-type: //p')
[ "$detected" != application/x-kvd ] || fail "GIO still detects application/x-kvd after purge"
echo "Debian packages on a clean $release root OK"
