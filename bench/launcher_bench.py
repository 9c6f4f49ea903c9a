#!/usr/bin/env python3
"""Launcher benchmark (a command that measures and prints, never a test).

Payloads, made once in the work folder:
  empty    the setup program alone
  typical  about 60 MB: 4,000 small text files in 40 folders, 8 binaries,
           one 20 MB incompressible file
  text     3,000 text files of 2-10 KB in 30 folders
  many     10,000 tiny files in 100 folders
  big      one 300 MB file that compresses like compiled programs (deflate to
           about 47%, LZMA to about 35%; zip and LZMA both have work to do)
  bigx86   the big file packed with BCJ in front of LZMA (7z only)
  huge     one 2.5 GB file (10 MB like the big file's, over and over), 7z
           only: a block larger than a 32-bit address space (leave it out
           with --skip huge; it writes 2.5 GB per run of each program)
each packed as a ZIP-style payload (zip -6) and as 7z (LZMA, one solid
block), appended to the launcher and run under Wine with a setup program
that records the time it started and exits at once. The floor row is a
minimal Win32 program that creates and writes the same files and does
nothing else (bench/floor_writer.cc). For every run it prints
the launcher's whole job and its two phases (start to the setup program;
the setup program's end to exit, i.e. the clean-up), its peak working set,
and beside it native unzip / 7zz x and cp -r of the same tree with their
peak resident set. Medians of --runs runs, after one warm-up run.

The 7z payloads also run behind the peer, the LZMA SDK's small installer
stub (the build's bench/sfx-peer.exe), which finds "setup.exe" in the same
archive; every variant runs once per round, so that a passing load falls on
all of them alike.

usage: launcher_bench.py --build DIR --work DIR [--runs N] [--only NAMES]
                         [--skip NAMES]       (payloads left out)
                         [--tmpfs DIR]        (the programs' temporary folder
                                               and the native tools' output in
                                               DIR, a tmpfs folder)
                         [--launcher IMAGE]   (the launcher image to measure)
                         [--base IMAGE]       (an earlier launcher image of the
                                               same build kind, measured beside it)"""
import argparse
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PAYLOADS = ["empty", "typical", "text", "many", "big", "bigx86", "huge"]
# Payloads only 7z can hold (zip -6 makes zip64 entries of 2.5 GB, which the
# launcher refuses) or only 7z has a filter for.
SEVEN_ZIP_ONLY = {"bigx86", "huge"}


def text(rnd, words, size):
    out, n = [], 0
    while n < size:
        line = " ".join(rnd.choice(words) for _ in range(12)) + "\n"
        out.append(line)
        n += len(line)
    return "".join(out)[:size]


# Folder names of the trees in the work folder: a tree whose contents change
# gets a new name, so that a tree or archive made before is not reused.
FOLDERS = {"big": "big-programs", "bigx86": "big-programs", "huge": "huge-2500mb"}


def program_like(rnd, size):
    """Bytes that compress like compiled programs: code idioms (short runs of
    skewed byte values) drawn from a pool, a few hundred at a time, with
    operands between them that are partly random; now and then a routine much
    like one further back (beyond deflate's 32 KiB window, within LZMA's
    dictionary)."""
    common = (bytes([0x00] * 30 + [0xFF] * 8) +
              bytes([0x8B, 0x89, 0x48, 0x4C, 0x24, 0x0F, 0x85, 0x84, 0xE8, 0xC3, 0x83, 0xC7, 0x45,
                     0x8D, 0x74, 0x75, 0xEB, 0x31, 0xC0, 0x01, 0x10, 0x20, 0x40, 0x08, 0x04, 0x02]) * 3 +
              bytes(range(256)))
    pool = [bytes(rnd.choices(common, k=rnd.randint(3, 24))) for _ in range(50000)]
    weights = [1.0 / (i + 8) for i in range(600)]
    out = bytearray()
    while len(out) < size:
        local = rnd.sample(pool, 600)
        count = 2048
        idioms = rnd.choices(local, weights=weights, k=count)
        operands = rnd.randbytes(count * 4)
        small = rnd.choices(range(64), k=count)
        parts = []
        for i in range(count):
            parts.append(idioms[i])
            kind = small[i] % 4
            if kind == 0:
                parts.append(operands[4 * i:4 * i + 4])
            elif kind == 2:
                parts.append(operands[4 * i:4 * i + 3])
            elif kind == 1:
                parts.append(bytes([small[i]]))
        out += b"".join(parts)
        if len(out) > (2 << 20):
            at = rnd.randrange(len(out) - (1 << 20), len(out) - 65536)
            out += out[at:at + rnd.randint(256, 2048)]
    return bytes(out[:size])


def make_tree(work, name):
    tree = os.path.join(work, FOLDERS.get(name, name))
    if os.path.isdir(tree):
        return tree
    rnd = random.Random(1)
    words = ["".join(rnd.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 10)))
             for _ in range(5000)]
    staging = tree + ".tmp"
    shutil.rmtree(staging, ignore_errors=True)
    os.makedirs(staging)
    if name == "typical":
        for i in range(4000):
            d = os.path.join(staging, "docs", "part%02d" % (i % 40))
            os.makedirs(d, exist_ok=True)
            with open(os.path.join(d, "file%04d.txt" % i), "w") as f:
                f.write(text(rnd, words, rnd.randint(2000, 10000)))
        os.makedirs(os.path.join(staging, "bin"))
        for i in range(8):
            with open(os.path.join(staging, "bin", "module%d.dll" % i), "wb") as f:
                f.write(rnd.randbytes(1 << 20) + bytes(range(256)) * 4096)
        with open(os.path.join(staging, "bin", "media.pak"), "wb") as f:
            f.write(rnd.randbytes(20 << 20))
    elif name == "text":
        for i in range(3000):
            d = os.path.join(staging, "texts", "part%02d" % (i % 30))
            os.makedirs(d, exist_ok=True)
            with open(os.path.join(d, "text%04d.txt" % i), "w") as f:
                f.write(text(rnd, words, rnd.randint(2000, 10000)))
    elif name == "many":
        for i in range(10000):
            d = os.path.join(staging, "items", "group%02d" % (i % 100))
            os.makedirs(d, exist_ok=True)
            with open(os.path.join(d, "item%05d.cfg" % i), "w") as f:
                f.write(text(rnd, words, rnd.randint(50, 400)))
    elif name == "big":
        with open(os.path.join(staging, "program.bin"), "wb") as f:
            for i in range(30):
                f.write(program_like(random.Random(i), 10 << 20))
    elif name == "huge":
        chunk = program_like(random.Random(0), 10 << 20)
        with open(os.path.join(staging, "huge.bin"), "wb") as f:
            for i in range(250):
                f.write(chunk)
    os.rename(staging, tree)
    return tree


def tree_size(tree):
    files = total = 0
    for folder, _, names in os.walk(tree):
        for n in names:
            files += 1
            total += os.path.getsize(os.path.join(folder, n))
    return files, total


def timed_native(command, cwd=None):
    """Wall seconds and peak resident set (KiB) of one native command. GNU
    time takes the peak from the kernel's record of the command's own process
    (a wrapper in Python would add its own: the forked interpreter's pages
    count until the command replaces it)."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        subprocess.run(["/usr/bin/time", "-o", report.name, "-f", "%e %M", *command], check=True,
                       cwd=cwd, stdout=subprocess.DEVNULL)
        seconds, peak = report.read().split()[-2:]
    return float(seconds), int(peak)


def native(command):
    return timed_native(command)


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Bench:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.work = os.path.abspath(args.work)
        self.runs = args.runs
        self.run = os.path.join(self.build, "wine-run")
        self.launcher = args.launcher or os.path.join(self.build, "launcher",
                                                      "Tessaro Vantel Installer.exe")
        self.base = args.base
        self.prefix = os.path.join(self.build, "wine")
        # The temporary folder of the Windows programs, and where the native
        # tools write: on tmpfs with --tmpfs, else the prefix's and the work folder.
        self.temp = os.path.join(os.path.abspath(args.tmpfs), "temp") if args.tmpfs else None
        self.native_out = os.path.join(os.path.abspath(args.tmpfs or self.work), "native-out")
        if self.temp:
            os.makedirs(self.temp, exist_ok=True)
        peer = os.path.join(self.build, "bench", "sfx-peer.exe")
        self.peer = peer if os.path.exists(peer) else None
        self.sevenzip = shutil.which("7zz") or shutil.which("7z")

    def package(self, name, kind):
        tree = make_tree(self.work, name) if name != "empty" else os.path.join(self.work, "empty")
        os.makedirs(tree, exist_ok=True)
        staged = os.path.join(self.work, "staged-" + name)
        # Named for what they hold: the stamp program under both setup names.
        archive = os.path.join(self.work, "%s-2setup%s.%s" % (
            os.path.basename(tree), "-bcj" if name == "bigx86" else "", kind))
        if not os.path.exists(archive):
            # The payload: the tree, and the stamp program as the launcher's default
            # setup program and as the peer's "setup.exe".
            shutil.rmtree(staged, ignore_errors=True)
            shutil.copytree(tree, staged)
            for setup in ("Tessaro Vantel Installer.exe", "setup.exe"):
                shutil.copy(os.path.join(self.build, "bench", "stamp_setup.exe"),
                            os.path.join(staged, setup))
            if kind == "zip":
                subprocess.run(["zip", "-q", "-r", "-6", archive, "."], cwd=staged, check=True)
            else:
                filters = ["-mf=BCJ"] if name == "bigx86" else ["-mf=off"]
                subprocess.run([self.sevenzip, "a", "-bd", "-bso0", "-t7z", "-m0=LZMA", "-mx=5",
                                "-ms=on"] + filters + [archive, "."], cwd=staged, check=True)
            shutil.rmtree(staged)
        return tree, archive

    def bundle(self, stub, archive, label):
        package = os.path.join(self.work, "%s-run.exe" % label)
        with open(package, "wb") as out:
            for part in (stub, archive):
                with open(part, "rb") as f:
                    shutil.copyfileobj(f, out)
        return package

    def windows_run(self, command, env):
        """Runs a Windows command line under peak_memory.exe: its fields."""
        if self.temp:
            env = dict(env, TV_BENCH_TEMP=win_path(self.temp))
        out = subprocess.run([self.run, os.path.join(self.build, "bench", "peak_memory.exe")]
                             + command, env=env, capture_output=True, text=True,
                             check=True).stdout
        return dict(item.split("=", 1) for item in out.split())

    def launcher_run(self, package):
        """One run; a package that fails (exit code other than 0) is reported
        as such, with its time and peak."""
        stamp = os.path.join(self.work, "stamp.txt")
        if os.path.exists(stamp):
            os.remove(stamp)
        fields = self.windows_run([win_path(package)], dict(os.environ, TV_STAMP=win_path(stamp)))
        whole = int(fields["wall_ms"]) / 1000
        result = {"whole": whole, "to_setup": whole, "after_setup": 0.0,
                  "peak": int(fields["peak_working_set_kib"]), "exit": int(fields["exit"])}
        if result["exit"] == 0 and os.path.exists(stamp):
            with open(stamp) as f:
                started = int(f.read())
            start, stop = int(fields["start_ft"]), int(fields["stop_ft"])
            result.update(to_setup=(started - start) / 1e7, after_setup=(stop - started) / 1e7)
        elif result["exit"] == 0:
            result["exit"] = -1  # ended with 0 but never ran the setup program
        return result

    def unix_path(self, windows):
        if windows[:2].upper() == "Z:":
            return windows[2:].replace("\\", "/")
        return os.path.join(self.prefix, "drive_" + windows[0].lower(),
                            windows[3:].replace("\\", "/"))

    def floor_run(self, tree):
        """The floor program on the tree; its output is deleted after."""
        exe = os.path.join(self.build, "bench", "floor_writer.exe")
        out = subprocess.run([self.run, os.path.join(self.build, "bench", "peak_memory.exe"),
                              exe, win_path(tree)], capture_output=True, text=True, check=True,
                             env=dict(os.environ, **({"TV_BENCH_TEMP": win_path(self.temp)}
                                                     if self.temp else {}))).stdout
        lines = out.split("\n")
        fields = dict(item.split("=", 1) for line in lines if line.startswith("exit=")
                      for item in line.split())
        for line in lines:
            if line.strip() and not line.startswith("exit="):
                shutil.rmtree(self.unix_path(line.strip()), ignore_errors=True)
        whole = int(fields["wall_ms"]) / 1000
        return {"whole": whole, "to_setup": whole, "after_setup": 0.0,
                "peak": int(fields["peak_working_set_kib"]), "exit": int(fields["exit"])}

    def variants(self, name, kind, archive):
        """(label, package) for every program that runs this payload."""
        stubs = [("launcher", self.launcher)]
        if self.base:
            stubs.append(("base", self.base))
        if kind == "7z" and self.peer:
            stubs.append(("SfxSetup", self.peer))
        return [(label, self.bundle(stub, archive, "%s-%s-%s" % (name, kind, label)))
                for label, stub in stubs]

    def measure(self, name, kind):
        tree, archive = self.package(name, kind)
        variants = self.variants(name, kind, archive)
        # The floor runs beside the 7z programs (every payload has a 7z form).
        if kind == "7z" and name != "empty":
            variants.append(("floor", tree))
        run = lambda label, package: (self.floor_run(package) if label == "floor"
                                      else self.launcher_run(package))
        for label, package in variants:
            run(label, package)  # warm-up: file cache, Wine's server
        runs = {label: [] for label, _ in variants}
        for _ in range(self.runs):
            for label, package in variants:
                runs[label].append(run(label, package))
        results = {}
        for label, rs in runs.items():
            result = {key: statistics.median(r[key] for r in rs) for key in rs[0]}
            result["peak"] = max(r["peak"] for r in rs)
            result["exit"] = max(r["exit"] for r in rs)
            results[label] = result
        out = self.native_out
        peers = {}
        if name != "empty":
            tool = (["unzip", "-q", "-o", archive, "-d", out] if kind == "zip"
                    else [self.sevenzip, "x", "-bd", "-y", "-o" + out, archive])
            for label, command in (("native", tool), ("cp -r", ["cp", "-r", tree, out])):
                times = []
                peak = 0
                for _ in range(self.runs):
                    shutil.rmtree(out, ignore_errors=True)
                    seconds, rss = native(command)
                    times.append(seconds)
                    peak = max(peak, rss)
                peers[label] = (statistics.median(times), peak)
            shutil.rmtree(out, ignore_errors=True)
        files, size = tree_size(tree)
        return files, size, os.path.getsize(archive), results, peers


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--only", default=",".join(PAYLOADS))
    ap.add_argument("--skip", default="", help="payloads left out, e.g. huge")
    ap.add_argument("--tmpfs", help="a tmpfs folder for the temporary folder and native output")
    ap.add_argument("--launcher", help="the launcher image to run (default: the build's)")
    ap.add_argument("--base", help="an earlier launcher image, run beside it")
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    bench = Bench(args)
    print("launcher image: %s (%d bytes)" % (bench.launcher, os.path.getsize(bench.launcher)))
    if bench.base:
        print("base image:     %s (%d bytes)" % (bench.base, os.path.getsize(bench.base)))
    if bench.peer:
        print("peer (7z):      %s (%d bytes)" % (bench.peer, os.path.getsize(bench.peer)))
    print("%-8s %-4s %-8s %6s %7s | %8s %8s %8s %9s | %-5s %8s %9s | %8s | %6s %6s"
          % ("payload", "fmt", "program", "files", "MB", "whole", "to-setup", "clean-up",
             "peak-WS", "peer", "wall", "max-RSS", "cp -r", "/peer", "/Sfx"))
    if args.tmpfs:
        print("temporary folder and native output on %s" % args.tmpfs)
    skip = set(args.skip.split(",")) if args.skip else set()
    for name in [n for n in args.only.split(",") if n not in skip]:
        for kind in ("7z",) if name in SEVEN_ZIP_ONLY else ("zip", "7z"):
            files, size, packed, results, peers = bench.measure(name, kind)
            peer_name = "unzip" if kind == "zip" else "7zz"
            peer = peers.get("native")
            cp = peers.get("cp -r")
            sfx = results.get("SfxSetup")
            for label, r in results.items():
                state = "" if r["exit"] == 0 else "  exit %d" % r["exit"]
                print("%-8s %-4s %-8s %6d %7.1f | %7.2fs %7.2fs %7.2fs %6dKiB | %-5s %s | %s | %6s %6s%s"
                      % (name, kind, label, files, size / 1e6, r["whole"], r["to_setup"],
                         r["after_setup"], r["peak"], peer_name,
                         "%7.2fs %6dKiB" % peer if peer else "%8s %9s" % ("-", "-"),
                         "%7.2fs" % cp[0] if cp else "%8s" % "-",
                         "%.2fx" % (r["whole"] / peer[0]) if peer else "-",
                         "%.2fx" % (r["whole"] / sfx["whole"])
                         if sfx and sfx["exit"] == 0 else "-", state),
                      flush=True)
            print("%-8s %-4s packed %.1f MB" % (name, kind, packed / 1e6))
    print("whole: the package's process from start to exit (medians of %d runs); to-setup: start to"
          % args.runs)
    print("the setup program's first instruction; clean-up: from then to exit (the setup program")
    print("exits at once). peak-WS: the program's peak working set as Wine reports it (Wine's own")
    print("DLLs included). /peer: whole / the native tool's wall time; /Sfx: whole / the peer stub's.")
    print("floor: a program that only creates and writes the same files (its whole job); exit N:")
    print("the program failed (medians of its failed runs).")


if __name__ == "__main__":
    main()
