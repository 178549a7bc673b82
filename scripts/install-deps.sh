#!/usr/bin/env bash
# Installs, with apt-get on Debian 12, everything that builds and tests
# vornalet: the host toolchain and test libraries, the mingw-w64 cross
# compilers of the two Windows builds, Wine for running the 64-bit build,
# wixl (msitools) for the test packages, and python3. Quick and quiet when all
# is there already: apt-get runs only for what dpkg reports missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ python3
  # clang: the sanitizer runtimes and libFuzzer, clang-format, clang-tidy
  clang clang-format clang-tidy libclang-rt-14-dev
  libgtest-dev libbenchmark-dev nlohmann-json3-dev
  # counting the benchmarks' instructions and cache misses (callgrind)
  valgrind
  # the Windows builds
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  # running the 64-bit build, and building its test packages
  wine64 wine msitools
)

# The packages that dpkg does not report as installed.
missing_of() {
  local -A installed=()
  local package status
  while read -r package status; do
    if [[ "$status" == installed ]]; then
      installed[$package]=1
    fi
  done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "$@" 2>/dev/null || true)
  for package in "$@"; do
    [[ -n "${installed[$package]:-}" ]] || echo "$package"
  done
}

mapfile -t missing < <(missing_of "${packages[@]}")
if ((${#missing[@]} == 0)); then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: not root and no sudo; as root run: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  sudo=(sudo)
fi
apt_options=(-y -q -o DPkg::Lock::Timeout=600)
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" update
# With the recommended packages: Wine was measured with them present.
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" install "${missing[@]}"

mapfile -t still_missing < <(missing_of "${missing[@]}")
if ((${#still_missing[@]} > 0)); then
  echo "install-deps: still missing after apt-get: ${still_missing[*]}" >&2
  exit 1
fi
echo "install-deps: done"
