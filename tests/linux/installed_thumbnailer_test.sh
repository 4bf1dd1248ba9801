#!/usr/bin/env bash
# Installs the tools component into a temporary prefix and uses it the way a
# file manager does: the MIME database recognises a document by its content,
# and the thumbnailer's Exec line, run from / with an empty environment but
# PATH, on a read-only copy without extension, writes a PNG whose pixels are
# exactly those of kvd-thumbnail --raw.
#
# usage: installed_thumbnailer_test.sh BUILD_DIR SAMPLE.kvd PNG_TO_RAW
set -euo pipefail
build=$1 sample=$2 png_to_raw=$3

work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
prefix=$work/prefix

fail() { echo "FAIL: $*" >&2; exit 1; }

# Three more installs from the same build to other prefixes at the same time,
# as test suites run in parallel do: each must name its own tool.
others=()
for n in 1 2 3; do
  cmake --install "$build" --component tools --prefix "$work/other-$n" >"$work/other-$n.log" 2>&1 &
  others+=($!)
done
cmake --install "$build" --component tools --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install"; }
for n in 1 2 3; do
  wait "${others[n - 1]}" || { cat "$work/other-$n.log" >&2; fail "cmake --install to another prefix at once"; }
  grep -qx "TryExec=$work/other-$n/bin/kvd-thumbnail" "$work/other-$n/share/thumbnailers/kvd.thumbnailer" ||
    fail "an install to another prefix at the same time does not name its own tool"
done

thumbnailer=$prefix/share/thumbnailers/kvd.thumbnailer
[ -f "$thumbnailer" ] || fail "no $thumbnailer"
[ -f "$prefix/share/mime/mime.cache" ] || fail "the MIME database was not compiled"
mime_type=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$prefix/share/mime/packages/kvd.xml")
grep -qx "MimeType=$mime_type;" "$thumbnailer" || fail "MimeType does not name $mime_type"
grep -qx "TryExec=$prefix/bin/kvd-thumbnail" "$thumbnailer" || fail "TryExec does not name the installed tool"

# The sandbox shows only /usr: the tool must not look for libraries elsewhere.
if readelf -d "$prefix/bin/kvd-thumbnail" | grep -qE 'RPATH|RUNPATH'; then fail "the installed tool has a run path"; fi

# The input as the sandbox binds it: read-only, at a path without extension.
mkdir "$work/input"
cp "$sample" "$work/input/document.kvd"
cp "$sample" "$work/input/document"
chmod a-w "$work/input/document" "$work/input"

for file in document.kvd document; do
  detected=$(XDG_DATA_HOME="$work/no-home" XDG_DATA_DIRS="$prefix/share:/usr/share" \
    gio info -a standard::content-type "$work/input/$file" | sed -n 's/^ *standard::content-type: //p')
  [ "$detected" = "$mime_type" ] || fail "$file detected as '$detected', not $mime_type"
done

exec_line=$(sed -n 's/^Exec=//p' "$thumbnailer")
for size in 128 256 1024; do
  output=$work/thumbnail-$size.png
  command=${exec_line//%s/$size}
  command=${command//%i/$work/input/document}
  command=${command//%o/$output}
  # shellcheck disable=SC2086 # the Exec line is split into words, as the file manager does
  (cd / && env -i PATH=/usr/bin:/bin $command) || fail "Exec line exited with $? at size $size"
  geometry=$("$png_to_raw" "$output" "$work/from-png.raw")
  [ "$geometry" = "$size x $size" ] || fail "PNG is $geometry, not $size x $size"
  "$build/tools/kvd-thumbnail" --raw -s "$size" "$sample" "$work/expected.raw"
  cmp -s "$work/from-png.raw" "$work/expected.raw" || fail "PNG pixels differ from --raw at size $size"
done
echo "installed thumbnailer OK: $exec_line"
