#!/usr/bin/env bash
# Launcher benchmark (not a test): the whole job and its two phases on the
# empty, typical, 10,000-file and big payloads, ZIP-style and 7z, beside
# native unzip / 7zz x and cp -r of the same trees, with peak memory (see
# bench/launcher_bench.py). Uses the shipped i686 build where 32-bit Wine runs
# natively, else the x86-64 build of the same sources, and says which.
# Usage: bench/launcher_bench.sh [work folder, default build/bench] [launcher_bench.py options:
#        --runs N, --only NAMES, --skip NAMES, --tmpfs DIR, --launcher IMAGE,
#        --base IMAGE]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
preset=windows
cmake --preset windows >/dev/null
if grep -q '^TV_WINE_TESTS:BOOL=OFF' "$top/build/windows/CMakeCache.txt"; then
  preset=wine-x64
  cmake --preset wine-x64 >/dev/null
fi
build=$top/build/$preset
cmake --build --preset "$preset" -j2 --target launcher peak_memory stamp_setup floor_writer sfx_peer >/dev/null
work=${1:-$top/build/bench}
shift || true
mkdir -p "$work"
run=$build/wine-run
prefix=$build/wine
sh "$top/tests/support/wine-prefix.sh" "$run" "$prefix"
trap 'sh "$top/tests/support/wine-prefix.sh" "$run" "$prefix" stop' EXIT
echo "Launcher benchmark: $preset build ($(stat -c %s "$build/launcher/Tessaro Vantel Installer.exe") bytes) under $("$run" --version 2>/dev/null)"
[ "$preset" = wine-x64 ] && echo "(the same sources built for x86-64: 32-bit Wine does not run natively here)"
python3 "$top/bench/launcher_bench.py" --build "$build" --work "$work" "$@"
