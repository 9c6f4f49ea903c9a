#!/usr/bin/env bash
# Packaging benchmark (not a test): "tvpack create" on the benchmark payloads
# of bench/launcher_zip_bench.sh (made by it when missing), in both formats,
# beside "zip -6" and "7zz a -m0=LZMA" on the same folders. Prints wall time,
# MB/s of input and the output size. tvpack runs as the Windows console
# program of the build that runs here (wine-x64 where 32-bit Wine cannot run),
# under Wine; zip and 7zz run natively.
# Usage: bench/tvpack_bench.sh [work folder, default build/bench]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$top/build/bench}
if [ ! -d "$work/a" ] || [ ! -d "$work/b" ]; then
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
cmake --build --preset "$preset" -j2 --target tvpack launcher recorder >/dev/null
run=$build/wine-run
prefix=$build/wine
sh "$top/tests/support/wine-prefix.sh" "$run" "$prefix"
trap 'sh "$top/tests/support/wine-prefix.sh" "$run" "$prefix" stop' EXIT
sevenzip=$(command -v 7zz || command -v 7z)
winpath() { printf 'Z:%s' "${1//\//\\}"; }
out=$work/tvpack-out
mkdir -p "$out"

# Seconds of wall time of one command, its output thrown away.
timed() {
  python3 - "$@" <<'PY'
import subprocess, sys, time
t = time.monotonic()
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)
print('%.2f' % (time.monotonic() - t))
PY
}

echo "tvpack create benchmark: $preset build under $("$run" --version 2>/dev/null), one thread"
printf '%-6s %9s | %-26s %8s %8s %10s\n' payload input tool seconds MB/s output
for name in a b; do
  cp "$build/tests/support/recorder.exe" "$work/$name/Tessaro Vantel Installer.exe"
  bytes=$(find "$work/$name" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
  # Warm the file cache and the server once.
  "$run" "$build/tools/tvpack/tvpack.exe" verify "$(winpath "$build/launcher/Tessaro Vantel Installer.exe")" >/dev/null 2>&1 || true
  cat "$work/$name"/bin/* >/dev/null 2>&1 || true
  row() {
    local tool=$1 file=$2; shift 2
    rm -f "$file"
    local s
    s=$(timed "$@")
    printf '%-6s %7.1fMB | %-26s %8s %8.1f %8.1fMB\n' "$name" "$(python3 -c "print($bytes / 1e6)")" \
      "$tool" "$s" "$(python3 -c "print($bytes / 1e6 / max($s, 0.01))")" \
      "$(python3 -c "import os; print(os.path.getsize('$file') / 1e6)")"
  }
  tv=$build/tools/tvpack/tvpack.exe
  row "tvpack create (zip -6)" "$out/$name-zip.exe" "$run" "$tv" create "$(winpath "$work/$name")" \
    -o "$(winpath "$out/$name-zip.exe")" --quiet
  row "tvpack ... --no-verify" "$out/$name-zip.exe" "$run" "$tv" create "$(winpath "$work/$name")" \
    -o "$(winpath "$out/$name-zip.exe")" --quiet --no-verify
  row "zip -6 -r" "$out/$name.zip" sh -c "cd '$work/$name' && zip -q -6 -r '$out/$name.zip' ."
  row "tvpack create (7z, -5)" "$out/$name-7z.exe" "$run" "$tv" create "$(winpath "$work/$name")" \
    -o "$(winpath "$out/$name-7z.exe")" --format 7z --quiet
  row "tvpack ... --no-verify" "$out/$name-7z.exe" "$run" "$tv" create "$(winpath "$work/$name")" \
    -o "$(winpath "$out/$name-7z.exe")" --format 7z --quiet --no-verify
  row "7zz a -m0=LZMA -mmt=1" "$out/$name.7z" sh -c "cd '$work/$name' && '$sevenzip' a -bd -bso0 -m0=LZMA -mmt=1 '$out/$name.7z' ."
  row "7zz a -m0=LZMA" "$out/$name.7z" sh -c "cd '$work/$name' && '$sevenzip' a -bd -bso0 -m0=LZMA '$out/$name.7z' ."
done
echo "tvpack's time includes appending to the launcher and, unless --no-verify, reading the"
echo "package back and checking every entry and CRC with the launcher's own code."
