#!/usr/bin/env bash
# kvd-doctor on private homes, each with one problem planted: what it reports,
# and that --fix repairs exactly that and leaves everything else alone.
#
# usage: doctor_test.sh BUILD_DIR SAMPLE.kvd [KDE_PLUGIN_DIR]
set -euo pipefail
build=$1 sample=$2 kde_plugins=${3:-}
doctor=$build/tools/kvd-doctor
factory=$(dirname "$0")/gnome_factory.py

work=$(mktemp -d)
nas=$work/nas
# A dead mount left behind would hold rm (and anything else) forever.
trap '[ -z "${swapper:-}" ] || kill "$swapper"; umount -l "$nas" 2>/dev/null || true; rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --component tools --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install"; }

# A fresh home each time; the install above is found through XDG_DATA_DIRS.
new_home() {
  home=$work/home-$1
  mkdir -p "$home"
  export HOME=$home XDG_DATA_HOME=$home/.local/share XDG_CONFIG_HOME=$home/.config XDG_CACHE_HOME=$home/.cache
  export XDG_DATA_DIRS=$prefix/share:/usr/share QT_PLUGIN_PATH=$kde_plugins
}

# run_doctor EXPECTED_STATUS [--fix]: the report in $report. A doctor that
# hangs is stopped: status 124.
run_doctor() {
  local expected=$1 status=0
  shift
  report=$(timeout -k 5 60 "$doctor" "$@") || status=$?
  [ "$status" = "$expected" ] || fail "kvd-doctor $* exited $status, not $expected:"$'\n'"$report"
}
expect_line() { grep -qE "$1" <<<"$report" || fail "no line matching '$1' in:"$'\n'"$report"; }

# Installed under a temporary prefix: type, entry and rendering are fine, but
# the prefix is named as what GNOME's sandbox cannot see.
new_home prefix
run_doctor 1
expect_line "^ok     MIME type: .*application/x-kvd, .*application/x-kvd$"
expect_line "^ok     thumbnailer: $prefix/share/thumbnailers/kvd.thumbnailer renders a sample"
expect_line "^WRONG  sandbox: $prefix/bin/kvd-thumbnail lies outside /usr.*instead of $prefix$"
[ "$(grep -c '^WRONG' <<<"$report")" = 1 ] || fail "more than the sandbox is reported wrong:"$'\n'"$report"
# A TMPDIR that names no folder costs no check.
TMPDIR=$work/gone run_doctor 1
expect_line "^ok     thumbnailer: .* renders a sample"
expect_line "^ok     failure markers: "

# Not installed where the desktop looks.
new_home missing
XDG_DATA_DIRS=/usr/share run_doctor 1
expect_line "^WRONG  MIME type: .*install the kvdthumb package"
expect_line "^WRONG  thumbnailer: no entry for application/x-kvd"

# A stale entry in the user's own folder, found before the system's.
new_home stale
mkdir -p "$XDG_DATA_HOME/thumbnailers"
printf '[Thumbnailer Entry]\nTryExec=/opt/gone/kvd-thumbnail\nExec=/opt/gone/kvd-thumbnail -s %%s %%i %%o\nMimeType=application/x-kvd;\n' \
  >"$XDG_DATA_HOME/thumbnailers/old.thumbnailer"
run_doctor 1
expect_line "^WRONG  thumbnailer: .*old.thumbnailer runs /opt/gone/kvd-thumbnail, which does not exist"

# A thumbnailer that fails on every document.
new_home broken
mkdir -p "$XDG_DATA_HOME/thumbnailers"
printf '[Thumbnailer Entry]\nExec=/bin/false %%i %%o\nMimeType=application/x-kvd;\n' >"$XDG_DATA_HOME/thumbnailers/kvd.thumbnailer"
run_doctor 1
expect_line "^WRONG  thumbnailer: .* runs /bin/false, but it exited with status 1 on a sample"

# A thumbnailer that hangs, with a child of its own: both are ended once the
# time limit passes, and the entry is named.
new_home hang
mkdir -p "$XDG_DATA_HOME/thumbnailers"
printf '#!/bin/sh\necho $$ >"$HOME/pids"\nsleep 300 &\necho $! >>"$HOME/pids"\nwait\n' >"$home/hang"
chmod +x "$home/hang"
printf '[Thumbnailer Entry]\nExec=%s %%i %%o\nMimeType=application/x-kvd;\n' "$home/hang" >"$XDG_DATA_HOME/thumbnailers/hang.thumbnailer"
run_doctor 1
expect_line "^WRONG  thumbnailer: $XDG_DATA_HOME/thumbnailers/hang.thumbnailer runs $home/hang, but it did not finish within 5 seconds on a sample"
for pid in $(cat "$home/pids"); do
  for _ in $(seq 20); do ps -o stat= -p "$pid" | grep -qv '^Z' || continue 2; sleep 0.1; done
  fail "process $pid of the hanging thumbnailer is still running"
done

# Dolphin's saved plugin list without ours: --fix adds it and changes no
# other byte of the file. The file is kept as a dotfile manager keeps it: a
# chain of links into its folder, closed to others, and (when we are root)
# owned by another user, which root's own home may hold.
new_home dolphin
dotfile=$home/dotfiles/kde/dolphinrc
mkdir -p "$XDG_CONFIG_HOME" "$(dirname "$dotfile")"
printf '[General]\nViewPropsTimestamp=2024,1,1\n\n[PreviewSettings]\nPlugins=imagethumbnail,svgthumbnail\nMaximumSize=5242880\n' \
  >"$dotfile"
ln -s kde/dolphinrc "$home/dotfiles/dolphinrc"
ln -s ../dotfiles/dolphinrc "$XDG_CONFIG_HOME/dolphinrc"
chmod 640 "$dotfile"
[ "$(id -u)" = 0 ] && chown 65534:65534 "$dotfile"
owner=$(stat -c '%a %u:%g' "$dotfile")
cp "$dotfile" "$work/dolphinrc.before"
run_doctor 1
expect_line "^WRONG  Dolphin: the preview plugins saved in .*dolphinrc leave out kvdthumbnail; run kvd-doctor --fix"
run_doctor 1 --fix
expect_line "^fixed  Dolphin: added kvdthumbnail"
diff <(sed 's/^Plugins=.*/Plugins=imagethumbnail,svgthumbnail,kvdthumbnail/' "$work/dolphinrc.before") \
  "$XDG_CONFIG_HOME/dolphinrc" >/dev/null || fail "--fix changed more of dolphinrc than the plugin list"
[ -L "$XDG_CONFIG_HOME/dolphinrc" ] && [ -L "$home/dotfiles/dolphinrc" ] || fail "--fix replaced a link with a file"
[ "$(stat -c '%a %u:%g' "$dotfile")" = "$owner" ] || fail "--fix made dolphinrc $(stat -c '%a %u:%g' "$dotfile"), not $owner"
[ "$(ls -A "$(dirname "$dotfile")")" = dolphinrc ] || fail "--fix left files beside dolphinrc"
run_doctor 1
expect_line "^ok     Dolphin: kvdthumbnail is on"
if [ -n "$kde_plugins" ]; then
  expect_line "^ok     KDE plugin: $kde_plugins/kf[56]/thumbcreator/kvdthumbnail.so$"
fi

# dolphinrc as KDE's own reader takes it: --fix finds the saved list and
# rewrites its line alone, line end kept. Each row: name|line end|before|after.
for row in 'crlf|\r\n|Plugins=a,b|Plugins=a,b,kvdthumbnail' \
  'spaces|\n|Plugins = a , b|Plugins = a,b,kvdthumbnail' \
  'trailing-comma|\n|Plugins=a,,b,|Plugins=a,b,kvdthumbnail'; do
  IFS='|' read -r name eol before after <<<"$row"
  new_home "dolphin-$name"
  mkdir -p "$XDG_CONFIG_HOME"
  layout="[General]${eol}Version=202${eol}${eol}[PreviewSettings]${eol}%s${eol}MaximumSize=5242880"
  printf "$layout" "$before" >"$XDG_CONFIG_HOME/dolphinrc"
  run_doctor 1 --fix
  expect_line "^fixed  Dolphin: added kvdthumbnail"
  cmp -s <(printf "$layout" "$after") "$XDG_CONFIG_HOME/dolphinrc" ||
    fail "--fix on a dolphinrc with $name wrote:"$'\n'"$(cat -A "$XDG_CONFIG_HOME/dolphinrc")"
done

# The entry KDE's own reader takes, as kreadconfig says: --fix adds ours to
# that line alone, or says there is no saved list when KDE finds none. Each
# row: name|before|after (empty: no saved list, the file left alone).
kreadconfig=$(command -v kreadconfig6 || command -v kreadconfig5) || fail "no kreadconfig6 or kreadconfig5"
kde_reads() {
  XDG_CONFIG_DIRS=$work/none "$kreadconfig" --file "$XDG_CONFIG_HOME/dolphinrc" --group PreviewSettings --key Plugins \
    --default '(none)' 2>/dev/null
}
for row in 'last-wins|[PreviewSettings]\nPlugins=a\nPlugins=b\n|[PreviewSettings]\nPlugins=a\nPlugins=b,kvdthumbnail\n' \
  'group-twice|[PreviewSettings]\nPlugins=a\n[General]\nPlugins=c\n[PreviewSettings]\nPlugins=b\nMaximumSize=1\n|[PreviewSettings]\nPlugins=a\n[General]\nPlugins=c\n[PreviewSettings]\nPlugins=b,kvdthumbnail\nMaximumSize=1\n' \
  'expand|[PreviewSettings]\nPlugins[$e]=a,b\n|[PreviewSettings]\nPlugins[$e]=a,b,kvdthumbnail\n' \
  'immutable|[PreviewSettings]\nPlugins[$i]=a\nPlugins=b\n|[PreviewSettings]\nPlugins[$i]=a,kvdthumbnail\nPlugins=b\n' \
  'deleted|[PreviewSettings]\nPlugins=a\nPlugins[$d]\n|' \
  'subgroup-locale|[PreviewSettings][Sub]\nPlugins=a\n[PreviewSettings]\nPlugins[de]=b\n|'; do
  IFS='|' read -r name before after <<<"$row"
  new_home "kde-$name"
  mkdir -p "$XDG_CONFIG_HOME"
  printf "$before" >"$XDG_CONFIG_HOME/dolphinrc"
  kde_before=$(kde_reads)
  run_doctor 1 --fix
  if [ -z "$after" ]; then
    [ "$kde_before" = '(none)' ] || fail "KDE reads '$kde_before' from the $name dolphinrc"
    expect_line "^ok     Dolphin: no saved list of preview plugins"
    cmp -s <(printf "$before") "$XDG_CONFIG_HOME/dolphinrc" || fail "--fix changed the $name dolphinrc"
  else
    expect_line "^fixed  Dolphin: added kvdthumbnail"
    cmp -s <(printf "$after") "$XDG_CONFIG_HOME/dolphinrc" ||
      fail "--fix on the $name dolphinrc wrote:"$'\n'"$(cat -A "$XDG_CONFIG_HOME/dolphinrc")"
    kde_reads | tr , '\n' | grep -qx kvdthumbnail ||
      fail "KDE reads '$(kde_reads)', once '$kde_before', from the fixed $name dolphinrc"
  fi
done

# Failure markers GNOME's factory left: for a .kvd document, for one without
# extension (recognised by content), and for a picture, a FIFO and a file on
# a network folder that no longer answers (a FUSE mount nobody serves, where
# we may mount), none of them ours.
new_home markers
mkdir -p "$home/Pictures" "$nas"
cp "$sample" "$home/Pictures/painting.kvd"
cp "$sample" "$home/Pictures/painting-copy"
printf 'not a picture' >"$home/Pictures/photo.png"
mkfifo "$home/Pictures/pipe"
printf 'not a painting' >"$nas/on-nas"
for file in "$home"/Pictures/{painting.kvd,painting-copy,photo.png,pipe} "$nas/on-nas"; do "$factory" fail "$file"; done
if [ -w /dev/fuse ] && exec 9<>/dev/fuse && mount -t fuse -o fd=9,rootmode=40000,user_id=0,group_id=0 dead "$nas" 2>/dev/null; then
  dead_mount=yes
else
  echo "no FUSE mount here: a network folder that does not answer is not tried" >&2
fi
mkdir -p "$XDG_CACHE_HOME/thumbnails/normal"
printf 'a thumbnail' >"$XDG_CACHE_HOME/thumbnails/normal/other.png"
(cd "$XDG_CACHE_HOME/thumbnails" && find . -type f | sort) >"$work/cache.before"
run_doctor 1
expect_line "^WRONG  failure markers: 2 failure marker\(s\) for .kvd files .*run kvd-doctor --fix"
if [ -n "${dead_mount:-}" ]; then
  expect_line "^WRONG  failure markers: 1 failure marker\(s\) name files that did not answer in time, such as file://$nas/on-nas; "
fi
run_doctor 1 --fix
expect_line "^fixed  failure markers: removed 2 failure marker\(s\)"
[ -z "${dead_mount:-}" ] || umount -l "$nas"
exec 9>&-
(cd "$XDG_CACHE_HOME/thumbnails" && find . -type f | sort) >"$work/cache.after"
[ "$(comm -23 "$work/cache.before" "$work/cache.after" | wc -l)" = 2 ] &&
  [ "$(comm -13 "$work/cache.before" "$work/cache.after" | wc -l)" = 0 ] ||
  fail "--fix removed other than the two markers:"$'\n'"$(diff "$work/cache.before" "$work/cache.after")"
status=0
"$factory" thumbnail "$home/Pictures/photo.png" 2>/dev/null || status=$?
[ "$status" = 3 ] || fail "GNOME's factory no longer sees the marker of photo.png"
run_doctor 1
expect_line "^ok     failure markers: none for .kvd files"

# Run by root (as under sudo -E) on a home that belongs to another user, the
# doctor acts as that user: a thumbnailer entry the user planted runs with
# the user's rights, and a user who swaps a folder of the home with a link
# to a folder of root's, over and over, gets nothing written there.
if [ "$(id -u)" = 0 ]; then
  chmod 755 "$work" # for the other user to reach its home
  new_home planted
  mkdir -p "$XDG_DATA_HOME/thumbnailers"
  printf '[Thumbnailer Entry]\nExec=/bin/sh -c "id -u >>%s/ran-as" %%i %%o\nMimeType=application/x-kvd;\n' "$home" \
    >"$XDG_DATA_HOME/thumbnailers/planted.thumbnailer"
  chown -hR 65534:65534 "$home"
  run_doctor 1
  [ "$(cat "$home/ran-as")" = 65534 ] || fail "the planted thumbnailer ran as uid $(cat "$home/ran-as"), not 65534"
  expect_line "^ok     user: running as .*\(uid 65534, gid 65534\), the owner of $home, not as root$"

  new_home race
  mkdir -p "$XDG_CONFIG_HOME" "$work/root-config"
  printf '[PreviewSettings]\nPlugins=imagethumbnail\n' | tee "$work/root-config/dolphinrc" >"$XDG_CONFIG_HOME/dolphinrc"
  ln -s "$work/root-config" "$home/swap"
  chown -hR 65534:65534 "$home"
  snapshot() { find "$work/root-config" -printf '%p %M %U:%G %s\n' | sort; cat "$work/root-config/dolphinrc"; }
  snapshot >"$work/root-config.before"
  setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c '
import ctypes, sys
libc = ctypes.CDLL(None, use_errno=True)
folder, link = (name.encode() for name in sys.argv[1:])
while True:
    libc.renameat2(-100, folder, -100, link, 2)  # AT_FDCWD, RENAME_EXCHANGE
' "$XDG_CONFIG_HOME" "$home/swap" &
  swapper=$!
  for _ in $(seq 40); do timeout -k 5 60 "$doctor" --fix >/dev/null || true; done
  kill "$swapper"
  wait "$swapper" 2>/dev/null || true
  swapper=
  snapshot | diff "$work/root-config.before" - >&2 || fail "kvd-doctor --fix changed a folder of root's outside the home"

  # Root's own home whose dolphinrc leads into a folder of another user's:
  # root writes nothing where that user could swap the path.
  new_home root-link
  mkdir -p "$XDG_CONFIG_HOME" "$work/user-dotfiles"
  printf '[PreviewSettings]\nPlugins=imagethumbnail\n' >"$work/user-dotfiles/dolphinrc"
  chown -R 65534:65534 "$work/user-dotfiles"
  ln -s "$work/user-dotfiles/dolphinrc" "$XDG_CONFIG_HOME/dolphinrc"
  run_doctor 1 --fix
  expect_line "^WRONG  Dolphin: .* leave out kvdthumbnail; the file could not be rewritten$"
else
  echo "not root: a home of another user's, checked by root, is not tried" >&2
fi
echo "kvd-doctor OK"
