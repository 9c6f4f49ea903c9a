#!/usr/bin/env bash
# Extraction benchmark of the launcher (not a test): builds two payloads,
#   (a) about 60 MB of mixed files: many small text files, some binaries,
#       one 20 MB incompressible file;
#   (b) one 300 MB compressible file;
# packs each with zip -6, appends it to the launcher, runs the package under
# Wine with a setup program that exits at once, and prints wall time, MB/s of
# unpacked output and the launcher's peak working set, beside unzip on the
# same archive. Uses the build that runs here (wine-x64 where 32-bit Wine
# cannot run) and says which.
# Usage: bench/launcher_zip_bench.sh [work folder, default build/bench]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
preset=windows
if [ ! -f "$top/build/windows/CMakeCache.txt" ] ||
  grep -q '^TV_WINE_TESTS:BOOL=OFF' "$top/build/windows/CMakeCache.txt"; then
  preset=wine-x64
fi
build=$top/build/$preset
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j2 --target launcher recorder >/dev/null
work=${1:-$top/build/bench}
mkdir -p "$work"
work=$(cd "$work" && pwd)
run=$build/wine-run
prefix=$build/wine
sh "$top/tests/support/wine-prefix.sh" "$run" "$prefix"
trap 'sh "$top/tests/support/wine-prefix.sh" "$run" "$prefix" stop' EXIT

if [ "$preset" = windows ]; then cxx=i686-w64-mingw32-g++-posix; else cxx=x86_64-w64-mingw32-g++-posix; fi
"$cxx" -O2 -static -municode "$top/bench/peak_memory.cc" -o "$work/peak_memory.exe" -lpsapi

make_payloads() {
  python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
rnd = random.Random(1)
words = [''.join(rnd.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rnd.randint(2, 10)))
         for _ in range(5000)]
def text(size):
    out, n = [], 0
    while n < size:
        line = ' '.join(rnd.choice(words) for _ in range(12)) + '\n'
        out.append(line); n += len(line)
    return ''.join(out)[:size]
a = os.path.join(work, 'a')
if not os.path.isdir(a):
    for i in range(4000):   # about 24 MB of small text files in 40 folders
        d = os.path.join(a, 'docs', 'part%02d' % (i % 40))
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, 'file%04d.txt' % i), 'w') as f:
            f.write(text(rnd.randint(2000, 10000)))
    os.makedirs(os.path.join(a, 'bin'), exist_ok=True)
    for i in range(8):      # about 16 MB of binaries: half random, half patterned
        with open(os.path.join(a, 'bin', 'module%d.dll' % i), 'wb') as f:
            f.write(os.urandom(1 << 20) + bytes(range(256)) * 4096)
    with open(os.path.join(a, 'bin', 'media.pak'), 'wb') as f:
        f.write(os.urandom(20 << 20))
os.makedirs(os.path.join(work, 'tiny'), exist_ok=True)  # baseline: the setup program only
b = os.path.join(work, 'b')
if not os.path.isdir(b):
    os.makedirs(b)
    block = text(1 << 20).encode()
    with open(os.path.join(b, 'big.log'), 'wb') as f:
        for i in range(300):
            f.write(block[i:] + block[:i])
PY
}
make_payloads

for name in tiny a b; do
  if [ ! -f "$work/$name.zip" ]; then
    cp "$build/tests/support/recorder.exe" "$work/$name/Tessaro Vantel Installer.exe"
    (cd "$work/$name" && zip -q -r -6 "../$name.zip" .)
  fi
  cat "$build/launcher/Tessaro Vantel Installer.exe" "$work/$name.zip" >"$work/$name-package.exe"
done

winpath() { printf 'Z:%s' "${1//\//\\}"; }
echo "Launcher extraction benchmark: $preset build under $("$run" --version 2>/dev/null)"
if [ "$preset" = wine-x64 ]; then
  echo "(the same sources built for x86-64: 32-bit Wine cannot run on this machine)"
fi
printf '%-10s %9s %9s | %-9s %9s %9s %12s | %-7s %9s %9s %12s\n' payload unpacked zip \
  launcher wall MB/s peak-WS unzip wall MB/s max-RSS
for name in tiny a b; do
  bytes=$(find "$work/$name" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
  zipped=$(stat -c %s "$work/$name.zip")
  # Warm the file cache and the server once, then measure.
  "$run" "$work/peak_memory.exe" "$(winpath "$work/$name-package.exe")" >/dev/null
  line=$("$run" "$work/peak_memory.exe" "$(winpath "$work/$name-package.exe")" | tr -d '\r')
  code=${line#exit=}; code=${code%% *}
  ms=${line#*wall_ms=}; ms=${ms%% *}
  kib=${line#*peak_working_set_kib=}
  rm -rf "$work/unzip-out"
  read -r uwall urss < <(python3 - "$work/$name.zip" "$work/unzip-out" <<'PY'
import resource, subprocess, sys, time
t = time.monotonic()
subprocess.run(['unzip', '-q', sys.argv[1], '-d', sys.argv[2]], check=True)
print('%.0f %d' % ((time.monotonic() - t) * 1000,
                   resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))
PY
)
  rm -rf "$work/unzip-out"
  mb=$(python3 -c "print(round($bytes / 1e6, 1))")
  printf '%-10s %7.1fMB %7.1fMB | exit=%-4s %7sms %9.1f %9sKiB | unzip   %7sms %9.1f %9sKiB\n' \
    "$name" "$mb" "$(python3 -c "print($zipped / 1e6)")" "$code" "$ms" \
    "$(python3 -c "print($bytes / 1e6 / ($ms / 1000))")" "$kib" \
    "$uwall" "$(python3 -c "print($bytes / 1e6 / ($uwall / 1000))")" "$urss"
done
echo "launcher peak-WS: the package process's PeakWorkingSetSize as Wine reports it (the Linux"
echo "process's peak RSS, Wine's own DLLs included); 'tiny' is the baseline, a payload holding only"
echo "the setup program. unzip max-RSS: its peak resident set size."
