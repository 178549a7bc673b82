#!/usr/bin/env bash
# Every test of vornalet, from a fresh Debian 12 machine: installs what is
# missing, builds the host, win32 and win64 presets, and runs the tests, as a
# list of named steps. Each step prints a banner and its result; the run ends
# with a summary whose last line is "N passed, N failed" and exits non-zero
# when any step failed.
#
#   bash scripts/test-all.sh               all steps
#   bash scripts/test-all.sh STEP...       only the named steps (their
#                                          prerequisites are then assumed built)
#   bash scripts/test-all.sh --list        the steps, in order
#
# A step whose prerequisite failed is not run and counts as failed, so that
# no test ever runs against a stale build. Every step must end within what
# is left of the whole run's time budget (VORNALET_TEST_BUDGET_MINUTES,
# default 80); a step that overruns is stopped and fails.
#
# Build directories are the presets' (build/<preset>); VORNALET_BUILD_DIR_<preset>
# (dashes as underscores, e.g. VORNALET_BUILD_DIR_host=build/host-mine)
# puts one elsewhere.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
self="$root/scripts/$(basename "${BASH_SOURCE[0]}")"
cd "$root" || exit 1

# ---------------------------------------------------------------------------
# Step functions. Each runs with errexit and pipefail: any failing command
# fails the step.

build_dir() {  # preset
  local variable="VORNALET_BUILD_DIR_${1//-/_}"
  echo "${!variable:-build/$1}"
}

build_preset() {  # preset
  local dir
  dir=$(build_dir "$1")
  cmake --preset "$1" -B "$dir"
  cmake --build "$dir" -j2
}

host_tests() {
  ctest --test-dir "$(build_dir host)" --output-on-failure -j2 --no-tests=error --timeout 900
}

# The host build and all its tests under AddressSanitizer (with leak
# detection) and UndefinedBehaviorSanitizer; any report fails its test.
sanitize_tests() {
  build_preset host-sanitize
  UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$(build_dir host-sanitize)" --output-on-failure -j2 --no-tests=error --timeout 900
}

# The libFuzzer targets of fuzz/, built with clang and the sanitizers, each
# run for 20 s from a temporary copy of its seed corpus.
fuzz_smoke() {
  local dir
  dir=$(build_dir fuzz)
  cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORNALET_FUZZ=ON -DVORNALET_SANITIZE=ON
  cmake --build "$dir" --target fuzz_targets -j2
  bash fuzz/run-fuzzers.sh "$dir" 20
}

source_files() {  # directories...: their C++ sources and headers, sorted
  find "$@" -type f \( -name '*.h' -o -name '*.cpp' \) | LC_ALL=C sort
}

check_format() {
  local files file unformatted
  mapfile -t files < <(source_files src sim tests)
  echo "clang-format --dry-run --Werror on ${#files[@]} files of src/ sim/ tests/"
  if clang-format --dry-run --Werror "${files[@]}" >/dev/null 2>&1; then
    return 0
  fi
  mapfile -t unformatted < <(clang-format --dry-run "${files[@]}" 2>&1 |
    sed -n -E 's/^(.*):[0-9]+:[0-9]+: (warning|error): code should be clang-formatted.*/\1/p' | uniq)
  if ((${#unformatted[@]} == 0)); then
    clang-format --dry-run --Werror "${files[@]}"  # not a formatting difference: show what it is
    return 1
  fi
  for file in "${unformatted[@]}"; do
    clang-format "$file" | diff -u "$file" - | head -n 60 || true
  done
  echo "not formatted (.clang-format): ${unformatted[*]}"
  echo "fix with: clang-format -i ${unformatted[*]}"
  return 1
}

# One file of src/, without clang-tidy's count of the warnings it suppressed
# in code that is not ours.
tidy_file() {  # build directory, file
  clang-tidy -p "$1" --quiet "$2" 2>&1 | sed -E '/^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$/d'
}

check_tidy() {
  local dir files
  dir=$(build_dir host)
  # The compilation database comes from configuring; nothing needs building.
  cmake --preset host -B "$dir" >/dev/null
  mapfile -t files < <(source_files src | grep '\.cpp$')
  echo "clang-tidy on ${#files[@]} files of src/ (checks in .clang-tidy)"
  printf '%s\0' "${files[@]}" | xargs -0 -n 1 -P 2 bash "$self" --run-step tidy_file "$dir"
}

inspect_pe() {
  bash tests/windows/inspect_pe.sh "$(build_dir win32)/vornalet.exe" "$(build_dir win64)/vornalet.exe"
}

wine_smoke() {
  bash tests/wine/smoke.sh "$(build_dir win64)/vornalet.exe"
}

# A step runs in a fresh shell of this script, so that it can be timed out
# as a whole with everything it started.
if [[ "${1:-}" == --run-step ]]; then
  shift
  set -euo pipefail
  "$@"
  exit
fi

# ---------------------------------------------------------------------------
# The steps, in order: name, prerequisite steps (comma-separated, or -), and
# the command. Add a step with one line here.

steps=()
step() {  # name needs command...
  local name=$1 needs=$2
  shift 2
  steps+=("$name|$needs|$(printf '%q ' "$@")")
}

step install-deps  -                        bash scripts/install-deps.sh
step build-host    install-deps             build_preset host
step build-win32   install-deps             build_preset win32
step build-win64   install-deps             build_preset win64
step host-tests    build-host               host_tests
step sanitize      install-deps             sanitize_tests
step fuzz          install-deps             fuzz_smoke
step inspect-pe    build-win32,build-win64  inspect_pe
step wine-smoke    build-win64              wine_smoke
step wine-e2e      build-win64              bash tests/wine/e2e/run.sh "$(build_dir win64)/vornalet.exe"
step format        install-deps             check_format
step tidy          install-deps             check_tidy

# ---------------------------------------------------------------------------
# The runner.

if [[ "${1:-}" == --list ]]; then
  for entry in "${steps[@]}"; do
    IFS='|' read -r name needs _ <<<"$entry"
    printf '%-14s needs %s\n' "$name" "$needs"
  done
  exit 0
fi

selected=("$@")
for wanted in "${selected[@]}"; do
  known=no
  for entry in "${steps[@]}"; do
    [[ "${entry%%|*}" == "$wanted" ]] && known=yes
  done
  if [[ $known == no ]]; then
    echo "test-all: no step named '$wanted'; the steps are:" >&2
    bash "$self" --list >&2
    exit 2
  fi
done

is_selected() {
  local wanted
  ((${#selected[@]} == 0)) && return 0
  for wanted in "${selected[@]}"; do
    [[ "$wanted" == "$1" ]] && return 0
  done
  return 1
}

budget=$((${VORNALET_TEST_BUDGET_MINUTES:-80} * 60))
started=$SECONDS
declare -A result=()
summary=()
passed=0
failed=0
current_pid=""

stop_current() {
  if [[ -n "$current_pid" ]]; then
    kill -TERM "$current_pid" 2>/dev/null
    wait "$current_pid" 2>/dev/null
  fi
  echo
  echo "test-all: interrupted"
  exit 130
}
trap stop_current INT TERM

to_run=()
for entry in "${steps[@]}"; do
  is_selected "${entry%%|*}" && to_run+=("$entry")
done

index=0
for entry in "${to_run[@]}"; do
  IFS='|' read -r name needs command <<<"$entry"
  index=$((index + 1))
  echo
  echo "=================================================================="
  echo "==> [$index/${#to_run[@]}] $name"
  echo "=================================================================="

  blocked=""
  if [[ "$needs" != - ]]; then
    IFS=',' read -r -a prerequisites <<<"$needs"
    for prerequisite in "${prerequisites[@]}"; do
      if [[ -n "${result[$prerequisite]:-}" && "${result[$prerequisite]}" != passed ]]; then
        blocked+="${blocked:+, }$prerequisite"
      fi
    done
  fi
  remaining=$((budget - (SECONDS - started)))

  step_started=$SECONDS
  if [[ -n "$blocked" ]]; then
    outcome="not run: $blocked failed"
    status=1
  elif ((remaining <= 0)); then
    outcome="not run: the time budget of $((budget / 60)) min is used up"
    status=1
  else
    eval "set -- $command"
    timeout -k 30 "$remaining" bash "$self" --run-step "$@" &
    current_pid=$!
    wait "$current_pid"
    status=$?
    current_pid=""
    if ((status == 124)); then
      outcome="stopped after $((SECONDS - step_started)) s: over the time budget"
    elif ((status == 0)); then
      outcome="passed"
    else
      outcome="FAILED (exit $status)"
    fi
  fi
  seconds=$((SECONDS - step_started))
  if ((status == 0)); then
    result[$name]=passed
    passed=$((passed + 1))
  else
    result[$name]=failed
    failed=$((failed + 1))
  fi
  echo "<== $name: $outcome, $seconds s"
  summary+=("$(printf '  %-8s %-14s %5d s  %s' "${result[$name]}" "$name" "$seconds" "$outcome")")
done

echo
echo "=================================================================="
echo "Summary ($((SECONDS - started)) s in all)"
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
((failed == 0))
