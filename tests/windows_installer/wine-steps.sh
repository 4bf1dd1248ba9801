# Helpers of the installer tests, sourced by their scripts: each step runs one
# Windows program in the test prefix and waits until every Wine process of the
# prefix has ended, so that no step overlaps the next; snapshots of the
# registry and of drive C: tell what a step changed.
# The sourcing script sets PREFIX (the Wine prefix), WINE_RUN (cmake/wine-run)
# and WORK (a folder for logs and snapshots).

export WINEPREFIX="$PREFIX" WINEDEBUG=-all
# Wine's errors reach the test's output: a step that fails says why.
export KVD_WINEDEBUG=-all,err+all

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Runs a Windows program and waits for the prefix to settle; its exit code.
# Wine passes only the low 8 bits on (msiexec's 1603 arrives as 67).
step() {  # PROGRAM [ARGUMENTS...]
  local program=$1 status=0
  shift
  "$WINE_RUN" "$PREFIX" "$(program_path "$program")" "$@" || status=$?
  wineserver -w
  return $status
}

# The file of a program that Windows brings (msiexec, regedit, regsvr32),
# which Wine then runs itself. Named without a path, Wine would hand it to
# start.exe, whose ShellExecuteEx starts it as a second process: when that
# start fails, the step fails with start.exe's "Application could not be
# started" and exit code 1, without the program having run.
program_path() {  # PROGRAM
  local folder
  case $1 in */*) echo "$1"; return ;; esac
  for folder in windows/system32 windows; do
    [ -f "$PREFIX/drive_c/$folder/$1.exe" ] && { echo "$PREFIX/drive_c/$folder/$1.exe"; return; }
  done
  echo "$1"
}

# A Windows path for a file of the build folder.
windows_path() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }

# The registry as sorted records: "KEY" for each key and "KEY<TAB>VALUE" for
# each value, the current user's hive spelled HKCU. Wine's own device, service
# and network state (Hardware, System, NetworkCards) changes by itself and is
# left out, and so are the display settings it keeps for the session and what
# its debugger writes (its settings and its console's) when one of its own
# services crashes, as its RPC service sometimes does.
registry_snapshot() {
  local export="$WORK/export.reg"
  step regedit /E "$(windows_path "$export")" || fail "regedit /E failed"
  iconv -f UTF-16 -t UTF-8 "$export" | tr -d '\r' | awk '
    /^\[/ { key = substr($0, 2, length($0) - 2); sub(/^HKEY_USERS\\S-1-5-21-[0-9-]*\\/, "HKCU\\", key); print key; next }
    /^$/ || /^Windows Registry Editor/ { next }
    { line = $0
      while (line ~ /\\$/ && (getline more) > 0) { sub(/\\$/, "", line); sub(/^ +/, "", more); line = line more }
      print key "\t" line }' |
    grep -v -E '^HKEY_LOCAL_MACHINE\\(Hardware|System)(\\|$)|\\NetworkCards(\\|$)' |
    grep -v -E '^HKCU\\(Console|Software\\Wine\\(WineDbg|Temporary System Parameters))(\\|[[:blank:]]|$)' | LC_ALL=C sort
  rm -f "$export"
}

# Every file and folder of drive C:, relative to it.
drive_snapshot() { (cd "$PREFIX/drive_c" && find . | LC_ALL=C sort); }

# Lines only in the second file, then lines only in the first, each marked.
changes() { LC_ALL=C comm -3 "$1" "$2" | sed -e 's/^\t/+ /' -e '/^+ /!s/^/- /'; }

# Windows Installer's own bookkeeping: its product, feature and component
# registration, the Add/Remove Programs entry, its cache of the package.
installer_bookkeeping='\\Installer(\\|$)|\\CurrentVersion\\Uninstall\\|\./windows/Installer(/|$)'

# After removal: nothing differs from BEFORE but empty keys of Windows
# Installer's bookkeeping and its empty cache folder.
restored_allowance='\\Installer(\\|$)|^\+ \./windows/Installer$'

expect_restored() {  # WHAT BEFORE AFTER
  local left
  left=$(changes "$2" "$3" | allowance="$restored_allowance" awk -F '\t' \
    '!(/^\+ / && NF == 1 && $0 ~ ENVIRON["allowance"])')
  [ -z "$left" ] || fail "$1 differs from before:"$'\n'"$left"
}

# The changes from BEFORE to AFTER, without Windows Installer's bookkeeping,
# must be exactly EXPECTED (a file of "+ " and "- " lines, sorted).
expect_changes() {  # WHAT BEFORE AFTER EXPECTED
  local actual
  actual=$(changes "$2" "$3" | grep -v -E "$installer_bookkeeping" | LC_ALL=C sort || true)
  if [ "$actual" != "$(cat "$4")" ]; then
    fail "$1: unexpected changes:"$'\n'"$(diff <(cat "$4") <(printf '%s\n' "$actual"))"
  fi
}

# The verbose log of msiexec shows that the shell was told.
expect_shell_notified() {  # LOG
  grep -a -q 'Action ended [0-9:]*: NotifyAssociationsChanged\. Return value 1\.' "$1" ||
    fail "$1: the NotifyAssociationsChanged custom action did not run to success"
}
