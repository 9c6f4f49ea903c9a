#!/usr/bin/env bash
# Packaging benchmark (not a test): "tvpack create" on the typical, 10,000-file
# and big payload trees of bench/launcher_bench.py (made by it when missing),
# in both formats, beside "zip -6 -r" and "7zz a -m0=LZMA" on the same folders,
# all native and in the same run, one after the other per tree. tvpack is the
# optimised native build of the tools preset (no sanitizers), with its default
# threads (one per processor) and its verification of the written package;
# zip runs on one thread, 7zz with its default threads. Prints wall time (the
# median of three runs for runs under 5 s), the
# payload's share of the input (tvpack: the package without the launcher's
# image) and each tool's own peak resident set (GNU time's %M, taken by the
# kernel for the tool's process; the few hundred KiB of time's own child
# before it becomes the tool are included).
# Usage: bench/tvpack_bench.sh [work folder, default build/bench]
#        TVPACK_BENCH_ONLY="typical many" limits the trees;
#        TVPACK_BENCH_ONE_THREAD=1 adds tvpack --threads 1 and 7zz -mmt=1 rows;
#        TVPACK_BENCH_NO_VERIFY=1 adds tvpack rows without the closing check.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ -x /usr/bin/time ] || { echo "tvpack_bench: needs GNU time (/usr/bin/time, package time)" >&2; exit 2; }
cmake --preset tools >/dev/null
cmake --build --preset tools -j2 --target tvpack >/dev/null
# The launcher image and the recorder (a Windows program as setup program).
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target launcher recorder >/dev/null
work=${1:-$top/build/bench}
mkdir -p "$work"
echo "tvpack create benchmark: native tvpack ($top/build/tools), $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$top" "$work" <<'PY'
import os, shutil, subprocess, sys, tempfile
top, work = sys.argv[1:3]
sys.path.insert(0, os.path.join(top, "bench"))
from launcher_bench import make_tree, tree_size, timed_native

tvpack = os.path.join(top, "build", "tools", "tools", "tvpack", "tvpack")
launcher = os.path.join(top, "build", "windows", "launcher", "Tessaro Vantel Installer.exe")
recorder = os.path.join(top, "build", "windows", "tests", "support", "recorder.exe")
sevenzip = shutil.which("7zz") or shutil.which("7z")
image = os.path.getsize(launcher)
out = os.path.join(work, "tvpack-out")
os.makedirs(out, exist_ok=True)
one = os.environ.get("TVPACK_BENCH_ONE_THREAD") == "1"
unchecked = os.environ.get("TVPACK_BENCH_NO_VERIFY") == "1"
names = os.environ.get("TVPACK_BENCH_ONLY", "typical many big").split()

print("%-8s %9s | %-26s %8s %7s %9s" % ("payload", "input", "tool", "seconds", "ratio", "peak-RSS"))
summary = []
for name in names:
    tree = make_tree(work, name)
    staged = os.path.join(work, "tvpack-staged-" + os.path.basename(tree))
    if not os.path.isdir(staged):
        shutil.copytree(tree, staged + ".tmp")
        shutil.copy(recorder, os.path.join(staged + ".tmp", "Tessaro Vantel Installer.exe"))
        os.rename(staged + ".tmp", staged)
    files, total = tree_size(staged)
    create = [tvpack, "create", staged, "--launcher", launcher, "--quiet", "-o"]
    rows = [
        ("tvpack create (zip, -6)", "zip.exe", create, [], image, None),
        ("zip -6 -r", "zip", ["zip", "-q", "-6", "-r"], ["."], 0, None),
        ("tvpack create (7z, -5)", "7z.exe", create, ["--format", "7z"], image, None),
        ("7zz a -m0=LZMA -mx=5", "7z", [sevenzip, "a", "-bd", "-bso0", "-m0=LZMA", "-mx=5"], ["."], 0, None),
    ]
    if unchecked:
        rows.insert(3, ("  the same, --no-verify", "7zn.exe", create, ["--format", "7z", "--no-verify"], image, None))
        rows.insert(1, ("  the same, --no-verify", "zipn.exe", create, ["--no-verify"], image, None))
    if one:
        rows[1:1] = [("  the same, --threads 1", "zip1.exe", create, ["--threads", "1"], image, None)]
        rows.append(("  tvpack 7z --threads 1", "7z1.exe", create, ["--format", "7z", "--threads", "1"], image, None))
        rows.append(("7zz a ... -mmt=1", "7z1", [sevenzip, "a", "-bd", "-bso0", "-m0=LZMA", "-mx=5", "-mmt=1"], ["."], 0, None))
    results = {}
    for tool, suffix, head, tail, overhead, _ in rows:
        target = os.path.join(out, name + "." + suffix)
        if os.path.exists(target):
            os.remove(target)
        # Short runs are repeated (median of three): a tenth of a second of
        # noise is half of the 10,000-file tree's time.
        times = []
        for attempt in range(3):
            if os.path.exists(target):
                os.remove(target)
            seconds, peak = timed_native(head + [target] + tail, cwd=staged)
            times.append(seconds)
            if seconds >= 5:
                break
        seconds = sorted(times)[len(times) // 2]
        ratio = (os.path.getsize(target) - overhead) / total
        results[tool] = (seconds, ratio, peak)
        print("%-8s %7.1fMB | %-26s %8.2f %6.2f%% %6dKiB" % (
            name, total / 1e6, tool, seconds, 100 * ratio, peak), flush=True)
    largest = max(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(staged) for f in fs)
    for mine, peer in (("tvpack create (zip, -6)", "zip -6 -r"), ("tvpack create (7z, -5)", "7zz a -m0=LZMA -mx=5")):
        (s1, r1, m1), (s2, r2, m2) = results[mine], results[peer]
        summary.append("%-8s %-4s %.2fx the time of %s, ratio %.2f%% vs %.2f%%, peak %d KiB%s" % (
            name, "zip" if "zip" in mine else "7z", s1 / s2, peer, 100 * r1, 100 * r2, m1,
            " (limit %d KiB: 64 MiB + largest file)" % ((64 << 10) + largest // 1024) if "zip" in mine else ""))
print()
for line in summary:
    print(line)
PY
echo "ratio: output bytes / input bytes (tvpack: the package less the launcher image; the setup"
echo "program is in the input). tvpack's time includes reading the package back and checking every"
echo "entry and CRC with the launcher's own code."
