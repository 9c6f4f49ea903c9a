#!/usr/bin/env bash
# Packaging benchmark (not a test): "tvpack create" on the typical, 10,000-file
# and big payload trees of bench/launcher_bench.py (made by it when missing),
# in both formats, beside "zip -6 -r" and "7zz a -m0=LZMA" on the same folders.
# Prints wall time, MB/s of input and the output size. tvpack runs as the
# Windows console program of the wine-x64 build under Wine (a tool, so the
# x86-64 build stands for it; TVPACK_BENCH_PRESET=windows picks the i686 one);
# zip and 7zz run natively. Everything runs on one thread except the last
# 7zz row (its default).
# Usage: bench/tvpack_bench.sh [work folder, default build/bench]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
preset=${TVPACK_BENCH_PRESET:-wine-x64}
build=$top/build/$preset
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j2 --target tvpack recorder >/dev/null
work=${1:-$top/build/bench}
mkdir -p "$work"
run=$build/wine-run
prefix=$build/wine
sh "$top/tests/support/wine-prefix.sh" "$run" "$prefix"
trap 'sh "$top/tests/support/wine-prefix.sh" "$run" "$prefix" stop' EXIT
echo "tvpack create benchmark: $preset build under $("$run" --version 2>/dev/null)"
python3 - "$top" "$build" "$work" <<'PY'
import os, shutil, subprocess, sys, time
top, build, work = sys.argv[1:4]
sys.path.insert(0, os.path.join(top, "bench"))
from launcher_bench import make_tree, tree_size, win_path

run = os.path.join(build, "wine-run")
tvpack = os.path.join(build, "tools", "tvpack", "tvpack.exe")
sevenzip = shutil.which("7zz") or shutil.which("7z")
out = os.path.join(work, "tvpack-out")
os.makedirs(out, exist_ok=True)

def timed(command, cwd=None):
    t = time.monotonic()
    subprocess.run(command, check=True, cwd=cwd, stdout=subprocess.DEVNULL)
    return time.monotonic() - t

print("%-8s %9s | %-28s %8s %8s %9s" % ("payload", "input", "tool", "seconds", "MB/s", "output"))
for name in ("typical", "many", "big"):
    tree = make_tree(work, name)
    staged = os.path.join(work, "tvpack-staged-" + name)
    if not os.path.isdir(staged):
        shutil.copytree(tree, staged + ".tmp")
        shutil.copy(os.path.join(build, "tests", "support", "recorder.exe"),
                    os.path.join(staged + ".tmp", "Tessaro Vantel Installer.exe"))
        os.rename(staged + ".tmp", staged)
    files, total = tree_size(staged)
    rows = [
        ("tvpack create (zip, -6)", "zip.exe", [run, tvpack, "create", win_path(staged), "-o", None, "--quiet"]),
        ("  the same, --no-verify", "zip.exe", [run, tvpack, "create", win_path(staged), "-o", None, "--quiet", "--no-verify"]),
        ("zip -6 -r", "zip", ["zip", "-q", "-6", "-r", None, "."]),
        ("tvpack create (7z, -5)", "7z.exe", [run, tvpack, "create", win_path(staged), "-o", None, "--quiet", "--format", "7z"]),
        ("  the same, --no-verify", "7z.exe", [run, tvpack, "create", win_path(staged), "-o", None, "--quiet", "--format", "7z", "--no-verify"]),
        ("7zz a -m0=LZMA -mmt=1", "7z", [sevenzip, "a", "-bd", "-bso0", "-m0=LZMA", "-mx=5", "-mmt=1", None, "."]),
        ("7zz a -m0=LZMA", "7z", [sevenzip, "a", "-bd", "-bso0", "-m0=LZMA", "-mx=5", None, "."]),
    ]
    for tool, suffix, command in rows:
        target = os.path.join(out, name + "." + suffix)
        if os.path.exists(target):
            os.remove(target)
        arg = win_path(target) if command[0] == run else target
        command = [arg if c is None else c for c in command]
        seconds = timed(command, cwd=staged)
        print("%-8s %7.1fMB | %-28s %8.2f %8.1f %7.1fMB" % (
            name, total / 1e6, tool, seconds, total / 1e6 / seconds, os.path.getsize(target) / 1e6))
PY
echo "tvpack's time includes appending to the launcher and, unless --no-verify, reading the"
echo "package back and checking every entry and CRC with the launcher's own code; it runs under"
echo "Wine, which adds its start-up (about 0.1 s) and file-system translation."
