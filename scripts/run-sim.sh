#!/usr/bin/env bash
# Builds the cleaner for the host and runs it on the simulated Windows
# machine: installs what is missing, builds the host preset, then runs
# build/host/vornalet-sim with this script's arguments passed through
# (see vornalet-sim --help for them). VORNALET_BUILD_DIR_host puts the build
# elsewhere.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
dir=${VORNALET_BUILD_DIR_host:-build/host}

# Everything before the run goes to stderr: stdout is vornalet-sim's own.
{
  bash scripts/install-deps.sh
  cmake --preset host -B "$dir" >/dev/null
  cmake --build "$dir" -j2 --target vornalet-sim
} >&2
exec "$dir/vornalet-sim" "$@"
