#!/usr/bin/env bash
# Measures the cleaner at scale and prints a table; rewrites the measured
# part of docs/performance.md and its plots (docs/performance-*.svg).
#
#   bash scripts/benchmark.sh [--sim-only | --wine-only]
#
# Under wine64: a small harness (benchmarks/wine/harness.cpp, built with
# x86_64-w64-mingw32-g++ from the cleaner's own sources and the flags of the
# Windows build) times the cleaner's directory removal, key tree deletion
# and component scan against cmd's "rd /s /q", "reg delete /f" and
# "reg query /s" on identical trees made fresh for each repetition, all in
# one wineserver session of a new prefix; before anything is added to it,
# the real vornalet.exe runs there with two codes, and the harness times
# the steps of such a run one by one.
# On the simulated machine: the Google Benchmark program vornalet_benchmarks
# at 1,000, 10,000 and 100,000 items, timed, and then each operation once
# under valgrind's callgrind, which counts the instructions and the misses
# of a simulated cache per item: figures that the machine's load does not
# move.
#
# Sizes and repetitions (environment): BENCH_FILES="10000 50000",
# BENCH_KEYS="10000", BENCH_SCAN="10000 50000", BENCH_REPS=3,
# BENCH_RUN_REPS=5; a size may carry its own repetitions, as in
# BENCH_FILES="10000 50000x1". BENCH_SIM_REPS=5 timed repetitions on the
# simulated machine; BENCH_COUNT=0 leaves out the counting (some minutes);
# BENCH_CPU=N runs the simulated machine's part on that processor only.
# Builds into build/perf; needs what scripts/install-deps.sh installs. Under
# load every time grows; the machine's load is recorded with the results.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build/perf"
results="$build/results"
files_sizes=${BENCH_FILES:-10000 50000}
keys_sizes=${BENCH_KEYS:-10000}
scan_sizes=${BENCH_SCAN:-10000 50000}
reps=${BENCH_REPS:-3}
run_reps=${BENCH_RUN_REPS:-5}
sim_reps=${BENCH_SIM_REPS:-5}
count_work=${BENCH_COUNT:-1}
do_sim=1
do_wine=1
case "${1:-}" in
  --sim-only) do_wine=0 ;;
  --wine-only) do_sim=0 ;;
  "") ;;
  *) echo "usage: $0 [--sim-only | --wine-only]" >&2; exit 2 ;;
esac

# A part that is not run keeps its earlier results for the report.
mkdir -p "$results"
if ((do_wine)); then rm -f "$results"/wine-*.txt "$results"/wholerun.* "$results/steps.txt" "$results"/load-wine*.txt; fi
if ((do_sim)); then rm -f "$results/sim.json" "$results/load-sim.txt"; fi
if ((do_sim && count_work)); then rm -f "$results"/count-*; fi
load() { echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"; }

# Product and upgrade code of the run with two codes: nothing of them is
# installed on the prefix.
product_code="{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}"
upgrade_code="{C7D81E22-4A93-4B6F-9E05-1D2C3B4A5F60}"

now_ms() { echo $(($(date +%s%N) / 1000000)); }

wine_part() {
  # The 64-bit program, built with the shared preset when it is not there.
  local exe="$repo/build/win64/vornalet.exe"
  if [[ ! -x "$exe" ]]; then
    cmake --preset win64 >/dev/null
    cmake --build --preset win64 -j2
  fi
  # The harness: the cleaner's sources without its entry point.
  local harness="$build/wine/harness.exe" sources=()
  mkdir -p "$build/wine"
  mapfile -t sources < <(find "$repo/src" -name '*.cpp' ! -path '*/driver/entry.cpp' | sort)
  echo "benchmark: building the harness" >&2
  x86_64-w64-mingw32-g++ -std=c++17 -Os -DNDEBUG -municode -DUNICODE -D_UNICODE -D_WIN32_WINNT=0x0601 \
    -I"$repo" -Wall -Wextra -Wshadow -Wcast-qual -Werror "$repo/benchmarks/wine/harness.cpp" "${sources[@]}" \
    -o "$harness" -static -static-libgcc -static-libstdc++ -lmsi -lnetapi32 -lshell32 -ladvapi32

  # shellcheck source=tests/wine/wine-env.sh
  source "$repo/tests/wine/wine-env.sh"
  echo "benchmark: making a new prefix" >&2
  wine_new_prefix
  # One persistent session for everything that follows.
  "$WINESERVER64" -p
  cp "$exe" "$WINEPREFIX/drive_c/vornalet.exe"
  cp "$harness" "$WINEPREFIX/drive_c/harness.exe"
  local run="C:\\vornalet.exe $product_code $upgrade_code" i t0 t1 line

  # The real program on a prefix with nothing of the product; first of all,
  # before any benchmark key is added.
  echo "benchmark: the whole run, $run_reps times" >&2
  for ((i = 0; i < run_reps; ++i)); do
    t0=$(now_ms); "$WINE64" 'C:\vornalet.exe' "$product_code" "$upgrade_code" >/dev/null 2>&1 || true; t1=$(now_ms)
    echo "wall_run $((t1 - t0))" >>"$results/wholerun.txt"
    t0=$(now_ms); "$WINE64" cmd /c rem >/dev/null 2>&1 || true; t1=$(now_ms)
    echo "wall_start $((t1 - t0))" >>"$results/wholerun.txt"
    line=$("$WINE64" 'C:\harness.exe' run "$run" 2>/dev/null | tr -d '\r')
    echo "session_run $(echo "$line" | cut -d' ' -f2)" >>"$results/wholerun.txt"
    line=$("$WINE64" 'C:\harness.exe' run cmd /c rem 2>/dev/null | tr -d '\r')
    echo "session_start $(echo "$line" | cut -d' ' -f2)" >>"$results/wholerun.txt"
  done
  cp "$(wine_temp_dir)/\$vornalet.log" "$results/wholerun.log" 2>/dev/null || true
  # Where the time of such a run goes: its steps, timed one by one in the
  # harness, on the same prefix in the same session.
  for ((i = 0; i < run_reps; ++i)); do
    "$WINE64" 'C:\harness.exe' steps "$product_code" "$upgrade_code" 2>/dev/null | tr -d '\r' >>"$results/steps.txt"
  done

  local entry size n
  for entry in $scan_sizes; do
    size=${entry%x*}; n=$reps; [[ "$entry" == *x* ]] && n=${entry#*x}
    echo "benchmark: component scan, $size component keys, $n repetitions" >&2
    "$WINE64" 'C:\harness.exe' scan "$size" "$n" | tr -d '\r' | tee "$results/wine-scan-$size.txt" >&2
  done
  for entry in $keys_sizes; do
    size=${entry%x*}; n=$reps; [[ "$entry" == *x* ]] && n=${entry#*x}
    echo "benchmark: key tree deletion, $size keys, $n repetitions" >&2
    "$WINE64" 'C:\harness.exe' keys "$size" "$n" | tr -d '\r' | tee "$results/wine-keys-$size.txt" >&2
  done
  for entry in $files_sizes; do
    size=${entry%x*}; n=$reps; [[ "$entry" == *x* ]] && n=${entry#*x}
    echo "benchmark: directory removal, $size files, $n repetitions" >&2
    "$WINE64" 'C:\harness.exe' files 'C:\vbench' "$size" "$n" | tr -d '\r' | tee "$results/wine-files-$size.txt" >&2
  done
  wine_cleanup
}

# The operations of the simulated machine's table, each at three sizes.
sim_benchmarks=(BM_ScaleRemoveDirectoryTree BM_ScaleDeleteKeyTree BM_RegistryDeleteKeyTreeWide
  BM_RegistryCollectProductComponents BM_ScaleWholeRun)
sim_sizes=(1000 10000 100000)

sim_part() {
  if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
  fi
  echo "benchmark: building vornalet_benchmarks" >&2
  cmake --build "$build" -j2 --target vornalet_benchmarks >&2
  local pin=()
  if [[ -n "${BENCH_CPU:-}" ]]; then pin=(taskset -c "$BENCH_CPU"); fi
  local filter
  filter="^($(IFS='|'; echo "${sim_benchmarks[*]}"))/"
  echo "benchmark: the simulated machine, $sim_reps repetitions" >&2
  # The repetitions of all the operations in a random order: a spell in
  # which the machine is slow falls on different operations' repetitions
  # instead of on all of one's.
  "${pin[@]}" "$build/vornalet_benchmarks" --benchmark_filter="$filter" --benchmark_repetitions="$sim_reps" \
    --benchmark_enable_random_interleaving=true \
    --benchmark_out="$results/sim.json" --benchmark_out_format=json >&2
  ((count_work)) || return 0
  # One run of each operation under callgrind, which counts only the
  # measured region (benchmarks/measured.h). The simulated caches are fixed
  # (32 KiB first level, 8 MiB last level), so the counts do not depend on
  # this machine.
  local bench size
  for bench in "${sim_benchmarks[@]}"; do
    for size in "${sim_sizes[@]}"; do
      echo "benchmark: counting $bench/$size under callgrind" >&2
      valgrind --tool=callgrind --collect-atstart=no --cache-sim=yes --D1=32768,8,64 --LL=8388608,16,64 \
        --callgrind-out-file=/dev/null "$build/vornalet_benchmarks" --benchmark_filter="^$bench/$size\$" \
        --benchmark_min_time=0 --benchmark_format=json \
        >"$results/count-$bench-$size.json" 2>"$results/count-$bench-$size.log"
    done
  done
}

# The load of the machine before and after each part goes with its results.
if ((do_wine)); then
  echo "Wine part, $(date -u '+%Y-%m-%d %H:%M') UTC: before $(load)" >"$results/load-wine.txt"
  (wine_part)
  echo "after $(load)" >>"$results/load-wine.txt"
fi
if ((do_sim)); then
  echo "Simulated machine part, $(date -u '+%Y-%m-%d %H:%M') UTC: before $(load)" >"$results/load-sim.txt"
  sim_part
  echo "after $(load)" >>"$results/load-sim.txt"
fi
python3 "$repo/benchmarks/wine/report.py" "$results" "$repo/docs"
