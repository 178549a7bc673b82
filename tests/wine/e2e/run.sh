#!/usr/bin/env bash
# End-to-end test of vornalet on a real Windows API: the 64-bit build runs
# under wine64 on a machine where a stand-in of the server product is
# installed the way a user's machine has it, and the machine is checked
# afterwards with Wine's own tools (reg export, sc query) and the files
# under the prefix, together with the run log's bytes.
#
#   tests/wine/e2e/run.sh [--keep] [path to the 64-bit vornalet.exe]
#
# The exe defaults to build/win64/vornalet.exe (cmake --preset win64 &&
# cmake --build --preset win64). --keep leaves the prefixes and everything
# collected in the scratch directory it names. Needs wine64, wine (the
# wrappers), msitools (wixl), g++-mingw-w64-x86-64 and python3
# (scripts/install-deps.sh). No display is used. Prints one PASS or FAIL
# line per check and ends non-zero when any check failed. Takes two to four
# minutes: one wineboot, one install, three cases side by side.
#
# What it builds (into build/wine-e2e, never the source tree):
#   - stand_in_service.exe from service/stand_in_service.cpp: a real Windows
#     service program that reports running and stops when asked; with a
#     second argument it stays in stop-pending that many seconds first. It
#     journals what it received to C:\stand-in\NAME.txt.
#   - server.msi (product/server.wxs): the server product, per machine,
#     64-bit components, the server component {5B1E6C3A-...} with its key
#     file C:\Program Files\Morvathen\Server\srvcore.exe, components of its
#     own, the three services Ostrivel, Pennaquist (stops after 4 s) and
#     Brolmidas, and the component it shares with console.msi.
#   - console.msi (product/console.wxs): a second product of the vendor
#     sharing that component (same code, same key file); it must survive.
#   - vendor.reg (seed/vendor.reg in UTF-16LE): the vendor's keys and the
#     uninstall entries an older setup left.
#
# The prefixes: one bare (wineboot -i), one with the stand-in installed
# (msiexec, reg import, settings stores and runtime files with read-only
# and hidden attributes); each case runs on its own cp -a copy, with a
# persistent wineserver (-p) so that the services keep running, ended with
# wineserver -k. Every prefix's server is ended and the scratch directory
# deleted on every way out.
#
# The cases:
#   installed     identification through Windows Installer, all three
#                 services running: exit 0; services gone and the calls
#                 behind their removal (relay trace: failure actions
#                 replaced, stop, one-second polls, delete); the account
#                 step; every registration, uninstall and vendor key of
#                 the product gone and nothing else in HKLM\SOFTWARE or the
#                 services key changed; settings stores, nq.dll and the
#                 product directory gone and nothing else under drive_c
#                 changed; the log line by line (directory walks compared
#                 as sets). Then a second run: exit 1, "Product not found
#                 1607", nothing changed.
#   registration-gone
#                 the product's installer registration deleted beforehand
#                 (its component keys left), Ostrivel running, Pennaquist
#                 stopped, Brolmidas deleted. A run without arguments stops
#                 at opening the product (exit 2) and changes nothing; a run
#                 with the two codes on the command line (in lower case)
#                 cleans up: exit 0, the component keys, uninstall and
#                 vendor keys and the settings stores gone, the product
#                 directory kept (Windows Installer no longer knows its
#                 path: "Cannot get product path").
#   vendor-keys-only
#                 nothing installed, only the vendor keys and settings
#                 stores: exit 1, "Product not found 1607", nothing changed.
#
# Where Wine differs from Windows (each marked where it matters):
#   - NetUserAdd accounts live inside the creating process, so the service
#     account never exists for the cleaner: "Error 2221" instead of "OK".
#   - ChangeServiceConfig2W stores no failure actions, so they cannot be
#     read back; the relay trace shows the call and its success instead.
#   - Wine's MsiGetProductCodeW answers from the component key alone, so it
#     still names a product whose registration is gone, and MsiOpenProductW
#     then fails with 1605: that machine ends with exit code 2 here (Windows
#     may already fail the lookup, with exit code 1; nothing changes either
#     way, which is what the case checks besides the code).
#   - As on Windows, a service deleted while it runs lives on until it
#     stops; unlike Windows, ending the session brings such a service back,
#     stopped: "service gone" is looked at before the session ends.
#   - On Windows the cleaner is a 32-bit program and reads the 32-bit
#     registry view; only the 64-bit loader runs here, so the 64-bit build
#     runs and the vendor keys are seeded in the 64-bit view.
#   - Wine lets a file be deleted while a program runs from it, so a service
#     image still in use cannot be seen here; and a read-only attribute on a
#     directory does not stick, so only files are made read-only.
#   - Wine's attrib applies only the last of several attribute flags, and a
#     quoted path does not survive "wine64 cmd /c": the attributes are set
#     from a batch file, one flag per call.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../../.." && pwd)

keep=no
if [[ "${1:-}" == --keep ]]; then
  keep=yes
  shift
fi
exe=${1:-$root/build/win64/vornalet.exe}
if [[ ! -f "$exe" ]]; then
  echo "error: $exe not found; build it with: cmake --preset win64 && cmake --build --preset win64" >&2
  exit 1
fi
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")

WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER64=${WINESERVER64:-/usr/lib/wine/wineserver64}
for tool in "$WINE64" "$WINESERVER64" "$(command -v wixl)" "$(command -v x86_64-w64-mingw32-g++)" "$(command -v python3)"; do
  if [[ ! -x "$tool" ]]; then
    echo "error: missing tool ${tool:-(wixl, x86_64-w64-mingw32-g++ or python3)}; see scripts/install-deps.sh" >&2
    exit 1
  fi
done

# No debug output, no Mono or Gecko prompts, no display.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY WINEPREFIX

artefacts=$root/build/wine-e2e
checks=$here/checks.py
started=$SECONDS
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vornalet-e2e.XXXXXX")
prefixes=()
passes=0
failures=0

# ---------------------------------------------------------------------------
# Wine sessions and prefixes

end_session() {  # prefix: ends its wineserver (saving the registry) and waits for it
  WINEPREFIX=$1 timeout 30 "$WINESERVER64" -k >/dev/null 2>&1
  WINEPREFIX=$1 timeout 30 "$WINESERVER64" -w >/dev/null 2>&1
  return 0
}

cleanup() {
  local prefix pid
  for pid in "${case_pids[@]}"; do
    kill -TERM -- "-$pid" 2>/dev/null
  done
  for prefix in "${prefixes[@]}"; do
    end_session "$prefix"
  done
  if [[ $keep == yes ]]; then
    echo "kept: $scratch"
  else
    rm -rf "$scratch"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A persistent session: services keep running between commands. It must be
# the first Wine process of the prefix.
start_session() {  # prefix
  WINEPREFIX=$1 "$WINESERVER64" -p
}

in_prefix() {  # prefix program args...: runs a Windows program; its exit code is returned
  local prefix=$1
  shift
  WINEPREFIX=$prefix timeout 240 "$WINE64" "$@"
}

copy_prefix() {  # from to
  prefixes+=("$2")
  cp -a "$1" "$2"
}

windows_path() {  # unix path -> Z:\...
  local path=${1//\//\\}
  echo "Z:$path"
}

# The run log, relative to drive_c: GetTempPathW gives the TEMP of the
# environment, which Wine sets to the profile's Temp (C:\users\<unix user>\Temp).
log_relative=""
find_log() {  # prefix: sets log_relative
  local temp
  temp=$(in_prefix "$1" cmd /c 'echo %TEMP%' | tr -d '\r')
  if [[ "${temp:0:3}" != "C:\\" ]]; then
    return 1
  fi
  temp=${temp:3}
  log_relative="${temp//\\//}/\$vornalet.log"
  [[ -d "$1/drive_c/${log_relative%/*}" ]]
}

# ---------------------------------------------------------------------------
# Verdicts

pass() {
  echo "PASS $*"
  passes=$((passes + 1))
}

fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

verdicts() {  # checks.py command args...: prints its verdicts and counts them
  local output status
  output=$(python3 "$checks" "$@" 2>&1)
  status=$?
  echo "$output"
  local found_passes found_failures
  found_passes=$(grep -c '^PASS' <<<"$output")
  found_failures=$(grep -c '^FAIL' <<<"$output")
  passes=$((passes + found_passes))
  failures=$((failures + found_failures))
  if ((status != 0 && found_failures == 0)); then
    fail "checks.py $1 ended with status $status"
  fi
}

setup_failed() {  # what: a step of the fixtures failed; no case can be trusted
  fail "setup: $*"
  echo "Wine end-to-end test: setup failed after $((SECONDS - started)) s"
  exit 1
}

# ---------------------------------------------------------------------------
# Building the stand-in

build_fixtures() {
  mkdir -p "$artefacts/payload" || return 1
  if [[ ! "$artefacts/payload/stand_in_service.exe" -nt "$here/service/stand_in_service.cpp" ]]; then
    x86_64-w64-mingw32-g++ -municode -static -O2 -Wall -Wextra -Werror \
      -o "$artefacts/payload/stand_in_service.exe" "$here/service/stand_in_service.cpp" -ladvapi32 || return 1
  fi
  local file
  for file in srvcore.exe srvstore.dll server.ini connectors.ini mvshared.dll console.exe; do
    printf 'stand-in %s\r\n' "$file" >"$artefacts/payload/$file"
  done
  (cd "$artefacts" &&
    wixl -a x64 -D Payload=payload -o server.msi "$here/product/server.wxs" &&
    wixl -a x64 -D Payload=payload -o console.msi "$here/product/console.wxs") || return 1
  # reg import wants UTF-16LE for hex(2) and hex(7) data.
  { printf '\xff\xfe' && sed 's/$/\r/' "$here/seed/vendor.reg" | iconv -f UTF-8 -t UTF-16LE; } >"$artefacts/vendor.reg"
}

# The settings stores the vendor key points to, nq.dll beside the first, and
# entries that only look like them (they must survive).
seed_settings_stores() {  # prefix
  local data=$1/drive_c/ProgramData/Morvathen
  mkdir -p "$data/Server/Store/index" "$data/Server/E2S/queue/empty" "$data/Server/Store-old" || return 1
  printf 'settings\r\n' >"$data/Server/Store/settings.dat"
  printf 'index 1\r\n' >"$data/Server/Store/index/0001.idx"
  printf 'index 2\r\n' >"$data/Server/Store/index/0002.idx"
  printf 'journal\r\n' >"$data/Server/Store/journal.log"
  printf 'e2s\r\n' >"$data/Server/E2S/e2s.dat"
  printf 'queued\r\n' >"$data/Server/E2S/queue/q1.bin"
  printf 'library\r\n' >"$data/Server/nq.dll"
  printf 'kept\r\n' >"$data/Server/server.cfg"
  printf 'kept\r\n' >"$data/Server/Store-old/settings.dat"
  printf 'kept\r\n' >"$data/nq.dll"
}

# What the running product adds to its directory: nested, read-only, hidden
# and empty entries, and a sibling directory that only looks like it.
seed_product_files() {  # prefix
  local programs=$1/drive_c/Program\ Files/Morvathen
  mkdir -p "$programs/Server/logs/2024/12" "$programs/Server/data/cache" "$programs/Server/tmp" "$programs/Server.old" || return 1
  printf 'log\r\n' >"$programs/Server/logs/server.log"
  printf 'rotated\r\n' >"$programs/Server/logs/2024/12/rotated.log"
  printf 'db\r\n' >"$programs/Server/data/hidden.db"
  printf 'db\r\n' >"$programs/Server/data/locked settings.db"
  printf 'cache\r\n' >"$programs/Server/data/cache/entry.bin"
  printf 'kept\r\n' >"$programs/Server.old/readme.txt"
}

# Read-only and hidden entries, set with Wine's attrib from a batch file
# (a quoted path does not survive the trip through "wine64 cmd /c"). Wine's
# attrib applies only the last of several flags, so one call per flag.
set_attributes() {  # prefix
  local server='C:\Program Files\Morvathen\Server' store='C:\ProgramData\Morvathen\Server'
  local batch=$scratch/attributes.bat
  printf '@echo off\r\n' >"$batch"
  printf 'attrib %s "%s"\r\n' \
    +r "$server\srvcore.exe" \
    +r "$server\logs\2024\12\rotated.log" \
    +h "$server\data\hidden.db" \
    +r "$server\data\locked settings.db" \
    +h "$server\data\locked settings.db" \
    +h "$server\data\cache" \
    +r "$store\Store\journal.log" \
    +h "$store\Store\journal.log" \
    +r "$store\E2S\queue\q1.bin" >>"$batch"
  in_prefix "$1" cmd /c "$(windows_path "$batch")" >/dev/null
}

make_bare_prefix() {  # prefix
  prefixes+=("$1")
  WINEPREFIX=$1 timeout 300 "$WINE64" wineboot -i >"$scratch/wineboot.log" 2>&1 || return 1
  # The boot session leaves services behind that a later service lookup
  # could reach: end it.
  end_session "$1"
  # The calls behind the service and account steps are read from Wine's
  # relay trace; only these functions are traced.
  in_prefix "$1" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /f /d \
    'advapi32.OpenSCManagerW;advapi32.OpenServiceW;advapi32.ChangeServiceConfig2W;advapi32.QueryServiceStatusEx;advapi32.ControlService;advapi32.DeleteService;advapi32.CloseServiceHandle;kernel32.Sleep;kernelbase.Sleep;netapi32.NetUserDel' >/dev/null || return 1
  end_session "$1"
}

make_installed_prefix() {  # bare installed
  copy_prefix "$1" "$2" || return 1
  start_session "$2" || return 1
  local package
  for package in server console; do
    in_prefix "$2" msiexec /i "$(windows_path "$artefacts/$package.msi")" /qn || return 1
  done
  in_prefix "$2" reg import "$(windows_path "$artefacts/vendor.reg")" || return 1
  seed_settings_stores "$2" || return 1
  seed_product_files "$2" || return 1
  set_attributes "$2" || return 1
  end_session "$2"
}

# ---------------------------------------------------------------------------
# Running and observing

snapshot() {  # prefix data tag: the registry's software and services keys and the file tree
  local prefix=$1 data=$2 tag=$3
  in_prefix "$prefix" reg export 'HKLM\SOFTWARE' "$(windows_path "$data/software-$tag.reg")" /y >/dev/null &&
    in_prefix "$prefix" reg export 'HKLM\SYSTEM\CurrentControlSet\Services' "$(windows_path "$data/services-$tag.reg")" /y >/dev/null &&
    python3 "$checks" snapshot "$prefix/drive_c" "$data/files-$tag.json"
}

run_cleaner() {  # prefix data tag args...: runs vornalet.exe, relay trace to data/trace-TAG.txt; prints the exit code
  local prefix=$1 data=$2 tag=$3 status=0
  shift 3
  rm -f "$prefix/drive_c/$log_relative"
  WINEPREFIX=$prefix WINEDEBUG=-all,+pid,+relay timeout 600 "$WINE64" "$exe" "$@" 2>"$data/trace-$tag.txt" >"$data/run-$tag.out" || status=$?
  echo "$status"
}

start_services() {  # prefix names...: starts them and checks that they run
  local prefix=$1 name state
  shift
  for name in "$@"; do
    in_prefix "$prefix" sc start "$name" >/dev/null
    state=$(in_prefix "$prefix" sc query "$name" | awk '/STATE/ {print $3}')
    if [[ "$state" == 4 ]]; then
      pass "[fixture] service $name running"
    else
      fail "[fixture] service $name running: state ${state:-none}"
    fi
  done
}

expect_services_gone() {  # case prefix names...: sc query fails for each
  local case=$1 prefix=$2 name
  shift 2
  for name in "$@"; do
    # A deleted service that still ran would live on until it stops, and a
    # session end brings it back stopped: look before the session ends.
    if in_prefix "$prefix" sc query "$name" >/dev/null 2>&1; then
      fail "[$case] service $name gone: sc query still finds it"
    else
      pass "[$case] service $name gone (sc query fails)"
    fi
  done
}

finish_case() {  # prefix: ends its session; the prefix goes at once unless kept
  end_session "$1"
  if [[ $keep != yes ]]; then
    rm -rf "$1"
  fi
}

common_arguments() {  # case prefix: sets common, the arguments every check takes
  common=(--case "$1" --wxs-dir "$here/product" --drive-c "$2/drive_c" --log-relative "$log_relative" --product-dir "$product_dir")
}

# ---------------------------------------------------------------------------
# The cases

case_installed() {
  local case=installed prefix=$scratch/installed-run data=$scratch/installed-data status
  echo "--- case $case: identified through Windows Installer, all services running"
  mkdir -p "$data"
  copy_prefix "$installed" "$prefix" || setup_failed "copying the prefix"
  start_session "$prefix"
  start_services "$prefix" Ostrivel Pennaquist Brolmidas
  snapshot "$prefix" "$data" before || setup_failed "snapshot before $case"
  common_arguments fixture "$prefix"
  verdicts check-installed "$data" "${common[@]}"

  local run_started=$SECONDS
  status=$(run_cleaner "$prefix" "$data" after)
  echo "    (the cleaner ran $((SECONDS - run_started)) s)"
  expect_services_gone "$case" "$prefix" Ostrivel Pennaquist Brolmidas
  snapshot "$prefix" "$data" after || setup_failed "snapshot after $case"
  # Pennaquist takes four seconds to stop: the cleaner must have polled at
  # least three times (a slow machine may stretch the polls, never shorten
  # the service's wait).
  common_arguments "$case" "$prefix"
  verdicts check-cleaned "$data" "${common[@]}" --exit-code "$status" --exe "$exe" \
    --product-code "$server_code" --upgrade-code "$server_upgrade" --registration-present --components-registered \
    --product-dir-removed --service Ostrivel=running:1 --service Pennaquist=running:3 --service Brolmidas=running:1

  # Windows Installer no longer knows the server component: the second run
  # ends at the lookup (1607, ERROR_UNKNOWN_COMPONENT, as on Windows).
  status=$(run_cleaner "$prefix" "$data" again)
  snapshot "$prefix" "$data" again || setup_failed "snapshot after the second run"
  common_arguments "$case second run" "$prefix"
  verdicts check-unchanged "$data" "${common[@]}" --exit-code "$status" \
    --expected-exit 1 --log 'Getting product code...\r\nProduct not found 1607\r\n' --before after --tag again
  finish_case "$prefix"
}

case_registration_gone() {
  local case=registration-gone prefix=$scratch/registration-gone-run data=$scratch/registration-gone-data status key
  echo "--- case $case: installer registration deleted, codes on the command line"
  mkdir -p "$data"
  copy_prefix "$installed" "$prefix" || setup_failed "copying the prefix"
  start_session "$prefix"
  # A half-removed product: its registration is gone, its component keys
  # still name it.
  for key in "HKLM\\SOFTWARE\\Classes\\Installer\\Products\\$server_packed" \
    "HKLM\\SOFTWARE\\Classes\\Installer\\Features\\$server_packed" \
    "HKLM\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\$server_packed_upgrade" \
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\$server_packed_upgrade" \
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\$server_packed" \
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$server_code"; do
    in_prefix "$prefix" reg delete "$key" /f >/dev/null 2>&1 || setup_failed "reg delete $key"
  done
  # One service of each kind: running, never started, not installed.
  start_services "$prefix" Ostrivel
  in_prefix "$prefix" sc delete Brolmidas >/dev/null || setup_failed "sc delete Brolmidas"
  snapshot "$prefix" "$data" before || setup_failed "snapshot before $case"

  # Without arguments the product cannot be opened. Wine: MsiGetProductCodeW
  # still answers from the component key, MsiOpenProductW then gives 1605
  # (ERROR_UNKNOWN_PRODUCT). Nothing may change.
  status=$(run_cleaner "$prefix" "$data" unopened)
  snapshot "$prefix" "$data" unopened || setup_failed "snapshot after the run without arguments"
  common_arguments "$case, no arguments" "$prefix"
  verdicts check-unchanged "$data" "${common[@]}" --exit-code "$status" \
    --expected-exit 2 --before before --tag unopened \
    --log "Getting product code...\\r\\nProduct was found. Prodcode is $server_code\\r\\nCannot open product 1605\\r\\n"
  local state
  state=$(in_prefix "$prefix" sc query Ostrivel | awk '/STATE/ {print $3}')
  if [[ "$state" == 4 ]]; then
    pass "[$case, no arguments] service Ostrivel still running"
  else
    fail "[$case, no arguments] service Ostrivel still running: state ${state:-none}"
  fi

  # The codes as an administrator may type them, in lower case: registry
  # names compare without regard to case, on Windows as under Wine.
  local product=${server_code,,} upgrade=${server_upgrade,,}
  status=$(run_cleaner "$prefix" "$data" after "$product" "$upgrade")
  expect_services_gone "$case" "$prefix" Ostrivel Pennaquist Brolmidas
  snapshot "$prefix" "$data" after || setup_failed "snapshot after $case"
  common_arguments "$case" "$prefix"
  verdicts check-cleaned "$data" "${common[@]}" --exit-code "$status" --exe "$exe" \
    --product-code "$product" --upgrade-code "$upgrade" --codes-given --components-registered \
    --service Ostrivel=running:1 --service Pennaquist=stopped --service Brolmidas=missing
  finish_case "$prefix"
}

case_vendor_keys_only() {
  local case=vendor-keys-only prefix=$scratch/vendor-keys-only-run data=$scratch/vendor-keys-only-data status
  echo "--- case $case: nothing installed but the vendor keys and settings stores"
  mkdir -p "$data"
  copy_prefix "$bare" "$prefix" || setup_failed "copying the prefix"
  start_session "$prefix"
  in_prefix "$prefix" reg import "$(windows_path "$artefacts/vendor.reg")" || setup_failed "reg import"
  seed_settings_stores "$prefix" || setup_failed "settings stores"
  snapshot "$prefix" "$data" before || setup_failed "snapshot before $case"
  status=$(run_cleaner "$prefix" "$data" after)
  snapshot "$prefix" "$data" after || setup_failed "snapshot after $case"
  common_arguments "$case" "$prefix"
  verdicts check-unchanged "$data" "${common[@]}" --exit-code "$status" \
    --expected-exit 1 --log 'Getting product code...\r\nProduct not found 1607\r\n' --before before --tag after
  finish_case "$prefix"
}

case_names=()
case_pids=()

# Each case runs in a process group of its own (job control on while it
# starts), so that an interrupted run can stop it with all it started.
start_case() {  # name: runs case_NAME in the background, its output to scratch/NAME.out
  local name=$1
  prefixes+=("$scratch/$name-run")
  case_names+=("$name")
  set -m
  (
    local case_started=$SECONDS
    "case_${name//-/_}"
    echo "    (case $name took $((SECONDS - case_started)) s)"
  ) >"$scratch/$name.out" 2>&1 &
  case_pids+=($!)
  set +m
}

wait_for_cases() {  # shows each case's output in order and counts its verdicts
  local index output
  for index in "${!case_pids[@]}"; do
    wait "${case_pids[$index]}"
    output=$scratch/${case_names[$index]}.out
    cat "$output"
    passes=$((passes + $(grep -c '^PASS' "$output")))
    failures=$((failures + $(grep -c '^FAIL' "$output")))
  done
  case_pids=()
}

# ---------------------------------------------------------------------------

# The codes, taken from the packages themselves.
server_code="" server_upgrade="" server_packed="" server_packed_upgrade="" product_dir=""
eval "$(python3 "$checks" fixture-shell "$here/product")" || setup_failed "reading the packages"
echo "vornalet: $exe"
echo "scratch:  $scratch"

build_fixtures || setup_failed "building the stand-in (service program, packages, registry file)"
echo "built the stand-in in $((SECONDS - started)) s"

bare=$scratch/bare
installed=$scratch/installed
make_bare_prefix "$bare" || setup_failed "wineboot -i of a new prefix (see $scratch/wineboot.log)"
find_log "$bare" || setup_failed "no temporary directory (TEMP is '$log_relative')"
end_session "$bare"
echo "bare prefix ready at $((SECONDS - started)) s; the run log is C:\\${log_relative//\//\\}"
# The cases run side by side, each on its own copy with its own server (the
# vendor-keys-only case needs only the bare prefix); their output is shown
# in order once all have ended.
start_case vendor-keys-only
make_installed_prefix "$bare" "$installed" || setup_failed "installing the stand-in"
echo "stand-in installed at $((SECONDS - started)) s"
start_case installed
start_case registration-gone

wait_for_cases

echo "Wine end-to-end test: $passes passed, $failures failed, $((SECONDS - started)) s"
((failures == 0))
