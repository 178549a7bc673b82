#!/usr/bin/env bash
# The cleaner's first run on a real Windows API: the 64-bit build under wine64
# in a fresh prefix where nothing of the server product is installed. Checks
# the exit code and the exact bytes of the run log for the ways the command
# line can choose identification. Each run finds the log of the one before in
# place, so every run also shows that the log is emptied when it is opened.
#
# usage: smoke.sh [path to the 64-bit vornalet.exe]  (default build/win64/vornalet.exe)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
exe=${1:-$root/build/win64/vornalet.exe}
# shellcheck source=tests/wine/wine-env.sh
source "$root/tests/wine/wine-env.sh"

if [[ ! -f "$exe" ]]; then
  echo "error: $exe not found; build it with: cmake --preset win64 && cmake --build --preset win64" >&2
  exit 1
fi
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")

started=$SECONDS
wine_new_prefix
echo "prefix $WINEPREFIX ready in $((SECONDS - started)) s"
log="$(wine_temp_dir)/\$vornalet.log"
if [[ ! -d "$(dirname "$log")" ]]; then
  echo "error: no temporary directory $(dirname "$log") in the new prefix; its users are:" >&2
  ls "$WINEPREFIX/drive_c/users" >&2
  exit 1
fi

failures=0
product_not_found_code=""

# check_log FILE REGEX: the whole file must match the regex (Python syntax,
# matched against its bytes), and no stale line of an earlier run may be left.
# Prints the regex's first group when it has one.
check_log() {
  python3 - "$1" "$2" <<'EOF'
import re, sys
path, pattern = sys.argv[1], sys.argv[2]
try:
    data = open(path, "rb").read()
except OSError as error:
    print("no log: %s" % error)
    sys.exit(1)
match = re.fullmatch(pattern.encode("ascii"), data)
if b"STALE" in data:
    print("the log of the earlier run is still there, not emptied: %r" % data[:200])
    sys.exit(1)
if match is None:
    print("log bytes %r do not match %r" % (data[:2000], pattern))
    sys.exit(1)
if match.groups():
    print(match.group(1).decode("ascii"))
EOF
}

# run_case NAME EXIT REGEX [ARGS...]: runs the program with ARGS and expects
# the exit code EXIT and a log whose bytes match REGEX as a whole.
run_case() {
  local name=$1 expected_exit=$2 pattern=$3
  shift 3
  printf 'STALE line of an earlier run\r\n%.0s' {1..40} >"$log"
  local case_started=$SECONDS status=0 found
  wine_run "$exe" "$@" >"$wine_prefix_parent/run.out" 2>&1 || status=$?
  if [[ $status -ne $expected_exit ]]; then
    echo "FAIL $name: exit code $status, expected $expected_exit"
    sed 's/^/     | /' "$wine_prefix_parent/run.out"
    failures=$((failures + 1))
    return 0
  fi
  if ! found=$(check_log "$log" "$pattern"); then
    echo "FAIL $name: $found"
    failures=$((failures + 1))
    return 0
  fi
  echo "ok   $name: exit $status, log as expected ($((SECONDS - case_started)) s)"
  if [[ "$name" == "no arguments" ]]; then
    product_not_found_code=$found
  fi
}

product='{11111111-2222-3333-4444-555555555555}'
upgrade='{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}'
too_long='{11111111-2222-3333-4444-5555555555550}'
lines='(?:[^\r\n]*\r\n)*'
not_found='Getting product code\.\.\.\r\nProduct not found ([1-9][0-9]*)\r\n'

# Nothing of the product is installed in a fresh prefix: Windows Installer
# does not know the server component, and the run ends with exit code 1.
# Only exactly two arguments are taken as the codes; the others are never
# written to the log.
run_case "no arguments"    1 "$not_found"
run_case "one argument"    1 "$not_found" "$product"
run_case "three arguments" 1 "$not_found" "$product" "$upgrade" "$product"
# Two codes: taken as they stand, without asking Windows Installer; the
# cleanup runs on whatever is there and the exit code is 0.
run_case "two codes"       0 "Using command line\.\.\.\r\nSet prodCode \{11111111-2222-3333-4444-555555555555\}\r\nSet upgrCode \{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE\}\r\n$lines" \
  "$product" "$upgrade"
# A code of 39 characters does not fit: exit code 4, and neither code is set.
run_case "code too long"   4 "Using command line\.\.\.\r\n(?:(?!Set )[^\r\n]*\r\n)*" "$too_long" "$upgrade"

wine_cleanup
if [[ -n "$product_not_found_code" ]]; then
  echo "Wine's MsiGetProductCodeW result for the unknown server component: $product_not_found_code"
  if [[ "$product_not_found_code" != 1607 ]]; then
    echo "note: Windows gives 1607 (ERROR_UNKNOWN_COMPONENT) here"
  fi
fi
echo "Wine smoke test: $failures failure(s), $((SECONDS - started)) s"
[[ $failures -eq 0 ]]
