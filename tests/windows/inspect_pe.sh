#!/usr/bin/env bash
# Inspects the two Windows builds of vornalet.exe: the 32-bit program we ship
# (PE32, i386) and the 64-bit one that runs under wine64 (PE32+, x86-64).
# Both must be GUI programs importing Windows system DLLs only, with a
# manifest that asks for administrator rights and a version resource; see
# inspect_pe.py for the checks. The inspector's self-test runs first, so that
# an inspector that passes everything cannot pass the real programs.
#
# usage: inspect_pe.sh [win32 exe] [win64 exe]
#        (default build/win32/vornalet.exe and build/win64/vornalet.exe)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
exe32=${1:-$root/build/win32/vornalet.exe}
exe64=${2:-$root/build/win64/vornalet.exe}

bash "$root/tests/windows/inspect_pe_selftest.sh"
status=0
python3 "$root/tests/windows/inspect_pe.py" --arch i386 "$exe32" || status=1
python3 "$root/tests/windows/inspect_pe.py" --arch x86-64 "$exe64" || status=1
exit "$status"
