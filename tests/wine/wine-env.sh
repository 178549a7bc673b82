# shellcheck shell=bash
# Sourced by the Wine tests: a fresh headless 64-bit Wine prefix of their own,
# the way to run a program in it, and its removal on every way out.
#
#   wine_new_prefix         make a prefix in a new temporary directory, set
#                           WINEPREFIX, boot it and end the boot session;
#                           registers wine_cleanup to run on exit
#   wine_run PROGRAM ARGS   run a Windows program (at most 2 minutes); its
#                           exit code is returned
#   wine_end_session        end the prefix's wineserver (saves the registry)
#   wine_temp_dir           the prefix's temporary directory, as a Unix path:
#                           where GetTempPathW points and the run log goes
#   wine_cleanup            end the session and delete the prefix
#
# Only the 64-bit loader can run here (32-bit emulation is off in the kernel),
# so the 64-bit build is the one that runs.

WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER64=${WINESERVER64:-/usr/lib/wine/wineserver64}

# No debug output, no Mono or Gecko installer prompts, and no display.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

wine_prefix_parent=""
wine_waiting_pid=""

# Runs a command in the background with a time limit and waits for it. A
# signal to the test then runs its traps at once (bash holds them back while
# a foreground command runs), and the command stays in the test's process
# group, so that whoever stops the test stops it too.
wine_wait_for() {  # seconds, command...
  local limit=$1 status=0
  shift
  timeout --foreground "$limit" "$@" &
  wine_waiting_pid=$!
  wait "$wine_waiting_pid" || status=$?
  wine_waiting_pid=""
  return "$status"
}

wine_require() {
  local tool
  for tool in "$WINE64" "$WINESERVER64"; do
    if [[ ! -x "$tool" ]]; then
      echo "error: $tool not found; install the wine64 and wine packages (scripts/install-deps.sh)" >&2
      return 1
    fi
  done
}

wine_end_session() {
  [[ -n "${WINEPREFIX:-}" && -d "$WINEPREFIX" ]] || return 0
  # Ends every Wine process of the prefix, and with it anything still
  # waited for.
  timeout --foreground 30 "$WINESERVER64" -k >/dev/null 2>&1 || true
  if [[ -n "$wine_waiting_pid" ]]; then
    kill "$wine_waiting_pid" 2>/dev/null || true
    wait "$wine_waiting_pid" 2>/dev/null || true
    wine_waiting_pid=""
  fi
  # -k returns once the server is told; wait until it is gone.
  timeout --foreground 30 "$WINESERVER64" -w >/dev/null 2>&1 || true
}

wine_cleanup() {
  wine_end_session
  if [[ -n "$wine_prefix_parent" && -d "$wine_prefix_parent" ]]; then
    rm -rf "$wine_prefix_parent"
  fi
  wine_prefix_parent=""
}

wine_new_prefix() {
  wine_require
  wine_prefix_parent=$(mktemp -d "${TMPDIR:-/tmp}/vornalet-wine.XXXXXX")
  trap wine_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  export WINEPREFIX="$wine_prefix_parent/prefix"
  local log="$wine_prefix_parent/wineboot.log"
  if ! wine_wait_for 300 "$WINE64" wineboot -i >"$log" 2>&1; then
    echo "error: wineboot -i failed for $WINEPREFIX:" >&2
    cat "$log" >&2
    return 1
  fi
  # The boot session leaves services behind that a later service lookup
  # could reach; every test starts with a fresh session.
  wine_end_session
}

wine_user() {
  # Wine names the profile after $USER, and after the account without it.
  echo "${USER:-$(id -un)}"
}

wine_temp_dir() {
  echo "$WINEPREFIX/drive_c/users/$(wine_user)/Temp"
}

wine_run() {
  wine_wait_for 120 "$WINE64" "$@"
}
