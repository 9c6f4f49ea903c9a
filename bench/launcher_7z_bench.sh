#!/usr/bin/env bash
# 7z extraction benchmark of the launcher (not a test): the two payloads of
# bench/launcher_zip_bench.sh (made by it when missing) packed as 7z archives
# (-m0=LZMA, one solid block each), appended to the launcher and run under
# Wine with a setup program that exits at once. Prints wall time, MB/s of
# unpacked output and the launcher's peak working set, beside "7z x" on the
# same archive. Uses the build that runs here (wine-x64 where 32-bit Wine
# cannot run) and says which.
# Usage: bench/launcher_7z_bench.sh [work folder, default build/bench]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$top/build/bench}
if [ ! -d "$work/a" ] || [ ! -d "$work/b" ] || [ ! -f "$work/peak_memory.exe" ]; then
  echo "(making the payloads with bench/launcher_zip_bench.sh first)"
  "$top/bench/launcher_zip_bench.sh" "$work"
fi
work=$(cd "$work" && pwd)
preset=windows
if [ ! -f "$top/build/windows/CMakeCache.txt" ] ||
  grep -q '^TV_WINE_TESTS:BOOL=OFF' "$top/build/windows/CMakeCache.txt"; then
  preset=wine-x64
fi
build=$top/build/$preset
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j2 --target launcher recorder >/dev/null
run=$build/wine-run
prefix=$build/wine
sh "$top/tests/support/wine-prefix.sh" "$run" "$prefix"
trap 'sh "$top/tests/support/wine-prefix.sh" "$run" "$prefix" stop' EXIT
sevenzip=$(command -v 7zz || command -v 7z)

for name in tiny a b; do
  cp "$build/tests/support/recorder.exe" "$work/$name/Tessaro Vantel Installer.exe"
  if [ ! -f "$work/$name.7z" ]; then
    (cd "$work/$name" && "$sevenzip" a -bd -bso0 -m0=LZMA -ms=on "../$name.7z" .)
  fi
  cat "$build/launcher/Tessaro Vantel Installer.exe" "$work/$name.7z" >"$work/$name-7z-package.exe"
done

winpath() { printf 'Z:%s' "${1//\//\\}"; }
echo "Launcher 7z extraction benchmark: $preset build under $("$run" --version 2>/dev/null)"
if [ "$preset" = wine-x64 ]; then
  echo "(the same sources built for x86-64: 32-bit Wine cannot run on this machine)"
fi
printf '%-8s %9s %9s | %-9s %9s %7s %13s | %-5s %9s %7s %12s\n' payload unpacked 7z \
  launcher wall MB/s peak-WS "7z x" wall MB/s max-RSS
for name in tiny a b; do
  bytes=$(find "$work/$name" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
  packed=$(stat -c %s "$work/$name.7z")
  # Warm the file cache and the server once, then measure.
  "$run" "$work/peak_memory.exe" "$(winpath "$work/$name-7z-package.exe")" >/dev/null
  line=$("$run" "$work/peak_memory.exe" "$(winpath "$work/$name-7z-package.exe")" | tr -d '\r')
  code=${line#exit=}; code=${code%% *}
  ms=${line#*wall_ms=}; ms=${ms%% *}
  kib=${line#*peak_working_set_kib=}
  rm -rf "$work/7z-out"
  read -r xwall xrss < <(python3 - "$sevenzip" "$work/$name.7z" "$work/7z-out" <<'PY'
import resource, subprocess, sys, time
t = time.monotonic()
subprocess.run([sys.argv[1], 'x', '-bd', '-bso0', '-mmt=1', '-o' + sys.argv[3], sys.argv[2]], check=True)
print('%.0f %d' % ((time.monotonic() - t) * 1000,
                   resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))
PY
)
  rm -rf "$work/7z-out"
  printf '%-8s %7.1fMB %7.1fMB | exit=%-4s %7sms %7.1f %10sKiB | 7z x  %7sms %7.1f %9sKiB\n' \
    "$name" "$(python3 -c "print($bytes / 1e6)")" "$(python3 -c "print($packed / 1e6)")" \
    "$code" "$ms" "$(python3 -c "print($bytes / 1e6 / ($ms / 1000))")" "$kib" \
    "$xwall" "$(python3 -c "print($bytes / 1e6 / ($xwall / 1000))")" "$xrss"
done
echo "launcher peak-WS: the package process's PeakWorkingSetSize as Wine reports it (Wine's own"
echo "DLLs included). A solid block is decoded whole into memory, so the peak grows with the"
echo "largest block's unpacked size. '7z x' runs natively on Linux, one thread (-mmt=1)."
