#!/usr/bin/env bash
# Proves that inspect_pe.py catches what it is there to catch: builds small
# Windows programs that each break one rule (with the program's own resource
# script and manifest wherever the rule is not about them) and expects
# exactly the named checks to fail. A sample built like the real program
# must pass every check, so that each faulty sample fails for its fault alone.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
inspect=("python3" "$root/tests/windows/inspect_pe.py")
work=$(mktemp -d "${TMPDIR:-/tmp}/vornalet-pe-selftest.XXXXXX")
trap 'rm -rf "$work"' EXIT

cat >"$work/gui.c" <<'EOF'
#include <windows.h>
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  (void)instance; (void)previous; (void)command_line; (void)show;
  return 0;
}
EOF
cat >"$work/console.cpp" <<'EOF'
#include <string>
int main(int argc, char** argv) { std::string name(argc > 0 ? argv[0] : "x"); return static_cast<int>(name.size()); }
EOF

# Resource scripts: the program's own, one whose manifest runs as the
# invoking user, and one without a version resource.
cp "$root/src/platform/vornalet.rc" "$root/src/platform/vornalet.manifest" "$work/"
mkdir "$work/as-invoker"
cp "$root/src/platform/vornalet.rc" "$work/as-invoker/"
sed 's/level="requireAdministrator"/level="asInvoker"/' "$root/src/platform/vornalet.manifest" \
  >"$work/as-invoker/vornalet.manifest"
grep -q 'level="asInvoker"' "$work/as-invoker/vornalet.manifest"
mkdir "$work/no-version"
cp "$root/src/platform/vornalet.manifest" "$work/no-version/"
printf '1 24 "vornalet.manifest"\n' >"$work/no-version/vornalet.rc"

compile_resources() {  # triple, directory of vornalet.rc, output object
  (cd "$2" && "$1-windres" vornalet.rc -O coff -o "$3")
}

# The way CMakeLists.txt links the real program.
link_like_release() {  # triple, output, resource object
  "$1-gcc" -Os -mwindows -static -Wl,--dynamicbase -Wl,--nxcompat -s "$work/gui.c" "$3" -o "$2"
}

compile_resources i686-w64-mingw32 "$work" "$work/good32.o"
compile_resources x86_64-w64-mingw32 "$work" "$work/good64.o"
compile_resources i686-w64-mingw32 "$work/as-invoker" "$work/as-invoker.o"
compile_resources i686-w64-mingw32 "$work/no-version" "$work/no-version.o"
link_like_release i686-w64-mingw32 "$work/good32.exe" "$work/good32.o"
link_like_release x86_64-w64-mingw32 "$work/good64.exe" "$work/good64.o"
link_like_release i686-w64-mingw32 "$work/as-invoker.exe" "$work/as-invoker.o"
link_like_release i686-w64-mingw32 "$work/no-version.exe" "$work/no-version.o"
i686-w64-mingw32-gcc -Os -mwindows -static -s "$work/gui.c" -o "$work/no-resources.exe"
i686-w64-mingw32-gcc -Os -mwindows -static -Wl,--disable-dynamicbase -Wl,--disable-nxcompat -s "$work/gui.c" \
  "$work/good32.o" -o "$work/no-aslr.exe"
# A console program linked against the toolchain's runtime DLLs.
i686-w64-mingw32-g++ -O1 "$work/console.cpp" "$work/good32.o" -o "$work/console-dynamic.exe"
printf 'not a program\n' >"$work/text.exe"

# sample | --arch | checks expected to fail (sorted, space-separated; "-" for none)
cases=(
  "good32.exe           i386    -"
  "good64.exe           x86-64  -"
  "good64.exe           i386    machine magic"
  "good32.exe           x86-64  machine magic"
  "as-invoker.exe       i386    manifest"
  "no-version.exe       i386    version"
  "no-resources.exe     i386    manifest version"
  "no-aslr.exe          i386    security"
  "console-dynamic.exe  i386    imports subsystem"
  "text.exe             i386    read"
)

failures=0
for row in "${cases[@]}"; do
  read -r sample arch expected <<<"$row"
  set +e
  output=$("${inspect[@]}" --arch "$arch" "$work/$sample" 2>&1)
  status=$?
  set -e
  seen=$(sed -n 's/^FAIL \([a-z]*\):.*/\1/p' <<<"$output" | sort -u | tr '\n' ' ' | sed 's/ $//')
  [[ -n "$seen" ]] || seen="-"
  want_status=0
  [[ "$expected" == "-" ]] || want_status=1
  [[ "$expected" == "read" ]] && want_status=2
  if [[ "$seen" == "$expected" && $status -eq $want_status ]]; then
    echo "ok   $sample --arch $arch: fails [$seen], exit $status"
  else
    echo "FAIL $sample --arch $arch: failed checks [$seen] with exit $status, expected [$expected] with exit $want_status"
    # shellcheck disable=SC2001
    sed 's/^/     | /' <<<"$output"
    failures=$((failures + 1))
  fi
done

# The toolchain runtime DLLs are named as such, not just as unknown DLLs.
output=$("${inspect[@]}" --arch i386 "$work/console-dynamic.exe" 2>&1 || true)
if grep -q 'libstdc++-6.dll is a toolchain runtime DLL' <<<"$output"; then
  echo "ok   console-dynamic.exe: libstdc++-6.dll named as a toolchain runtime DLL"
else
  echo "FAIL console-dynamic.exe: libstdc++-6.dll not named as a toolchain runtime DLL"
  failures=$((failures + 1))
fi

if ((failures > 0)); then
  echo "inspect_pe.py self-test: $failures case(s) FAILED"
  exit 1
fi
echo "inspect_pe.py self-test: all cases passed"
