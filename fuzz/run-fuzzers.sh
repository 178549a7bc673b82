#!/usr/bin/env bash
# Runs the fuzz targets of a build for a while each, two at a time, every
# one from a temporary copy of its seed corpus (fuzz/corpus/<target>/, and
# for the image loader the machine images under machines/ as well), so that
# the repository is never changed. Prints one line per target: executions,
# seconds, coverage, corpus size. Fails when any target found a crash, a
# sanitizer report, a leak, a timeout or a broken property; the failing
# input and the target's output are then kept and their paths printed.
#
#   bash fuzz/run-fuzzers.sh BUILD_DIR SECONDS [TARGET...]
#
# BUILD_DIR is a build configured with VORNALET_FUZZ=ON (see
# fuzz/CMakeLists.txt); SECONDS is each target's time; the targets default
# to all of them.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
all_targets=(pack_guid parent_directory key_by_path command_line run_log machine_image)

if (($# < 2)); then
  echo "usage: $0 BUILD_DIR SECONDS [TARGET...]" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=("$@")
((${#targets[@]} > 0)) || targets=("${all_targets[@]}")

work=$(mktemp -d "${TMPDIR:-/tmp}/vornalet-fuzz.XXXXXX")
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:check_initialization_order=1:strict_init_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# One target: its corpus copied, then libFuzzer for the given time, with a
# bound on the runs as well so that a very fast target does not spin.
run_target() {  # target
  local target=$1 binary="$build_dir/fuzz/fuzz_$1" corpus="$work/$1/corpus" options=()
  mkdir -p "$corpus"
  cp "$root/fuzz/corpus/$target/"* "$corpus/"
  if [[ $target == machine_image ]]; then
    cp "$root/machines/builtin.json" "$corpus/builtin-current.json"
    local image
    for image in "$root"/machines/scenarios/*/machine.json; do
      [[ -e "$image" ]] && cp "$image" "$corpus/scenario-$(basename "$(dirname "$image")").json"
    done
  fi
  [[ -f "$root/fuzz/$target.dict" ]] && options+=("-dict=$root/fuzz/$target.dict")
  local started=$SECONDS status=0
  "$binary" "${options[@]}" -max_total_time="$seconds" -runs=50000000 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/$target/" "$corpus" >"$work/$target/output.txt" 2>&1 || status=$?
  echo "$status $((SECONDS - started))" >"$work/$target/status"
}

if [[ ! -x "$build_dir/fuzz/fuzz_${targets[0]}" ]]; then
  echo "run-fuzzers: no fuzz targets in $build_dir (configure it with VORNALET_FUZZ=ON and build fuzz_targets)" >&2
  exit 2
fi
echo "run-fuzzers: ${#targets[@]} targets, $seconds s each, two at a time, in $work"
running=0
for target in "${targets[@]}"; do
  if ((running == 2)); then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
wait || true

failed=0
printf '%-18s %12s %6s %8s %8s %8s  %s\n' target executions s cov ft corpus result
for target in "${targets[@]}"; do
  out="$work/$target/output.txt"
  status=99 elapsed=?
  [[ -f "$work/$target/status" ]] && read -r status elapsed <"$work/$target/status"
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -n 1)
  last=$(grep -E '^#[0-9]+.*cov: ' "$out" | tail -n 1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corpus=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  result=ok
  if ((status != 0)); then
    result="FAILED (exit $status)"
    failed=$((failed + 1))
  fi
  printf '%-18s %12s %6s %8s %8s %8s  %s\n' "$target" "${executions:-?}" "$elapsed" "${cov:-?}" "${ft:-?}" \
    "${corpus:-?}" "$result"
done

if ((failed > 0)); then
  for target in "${targets[@]}"; do
    status=99
    [[ -f "$work/$target/status" ]] && read -r status _ <"$work/$target/status"
    ((status == 0)) && continue
    echo
    echo "---- $target: the end of its output ($work/$target/output.txt)"
    grep -v -E '^#[0-9]+ ' "$work/$target/output.txt" | tail -n 60
    for artifact in "$work/$target/"{crash,leak,timeout,oom,slow-unit}-*; do
      [[ -e "$artifact" ]] || continue
      echo "---- failing input: $artifact"
      echo "     reproduce: $build_dir/fuzz/fuzz_$target $artifact"
      head -c 600 "$artifact" | od -A d -c | head -n 20
    done
  done
  echo
  echo "run-fuzzers: $failed of ${#targets[@]} targets failed; their inputs and output are kept in $work"
  exit 1
fi
rm -rf "$work"
echo "run-fuzzers: all ${#targets[@]} targets ran clean"
