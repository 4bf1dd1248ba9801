#!/usr/bin/env bash
# The long-running scripts show their usage instead of starting work when
# asked for help, and refuse an argument they do not know. Each call is cut
# off after a while, so that a script that starts its work fails this quickly.
#
#   script_usage_test.sh SOURCE_DIR
set -uo pipefail
cd "${1:?usage: script_usage_test.sh SOURCE_DIR}"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for script in scripts/test scripts/try; do
  for help in -h --help; do
    out=$(timeout 20 "$script" "$help" 2>/dev/null) || fail "$script $help exits with $?"
    [[ $out == usage:* ]] || fail "$script $help prints no usage"
  done
  errors=$(timeout 20 "$script" --no-such-option 2>&1 >/dev/null)
  status=$?
  [ "$status" -ne 0 ] && [ "$status" -ne 124 ] || fail "$script --no-such-option exits with $status"
  [[ $errors == *usage:* ]] || fail "$script --no-such-option shows no usage on stderr"
done
exit $((failures > 0))
