#!/usr/bin/env python3
"""Launcher benchmark (a command that measures and prints, never a test).

Payloads, made once in the work folder:
  empty    the setup program alone
  typical  about 60 MB: 4,000 small text files in 40 folders, 8 binaries,
           one 20 MB incompressible file
  many     10,000 tiny files in 100 folders
  big      one 300 MB compressible file
each packed as a ZIP-style payload (zip -6) and as 7z (LZMA, one solid
block), appended to the launcher and run under Wine with a setup program
that records the time it started and exits at once. For every run it prints
the launcher's whole job and its two phases (start to the setup program;
the setup program's end to exit, i.e. the clean-up), its peak working set,
and beside it native unzip / 7zz x and cp -r of the same tree with their
peak resident set. Medians of --runs runs, after one warm-up run.

usage: launcher_bench.py --build DIR --work DIR [--runs N] [--only NAMES]
                         [--launcher IMAGE]   (another launcher image of the same
                                               build kind, to compare)"""
import argparse
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import time

PAYLOADS = ["empty", "typical", "many", "big"]


def text(rnd, words, size):
    out, n = [], 0
    while n < size:
        line = " ".join(rnd.choice(words) for _ in range(12)) + "\n"
        out.append(line)
        n += len(line)
    return "".join(out)[:size]


def make_tree(work, name):
    tree = os.path.join(work, name)
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
    elif name == "many":
        for i in range(10000):
            d = os.path.join(staging, "items", "group%02d" % (i % 100))
            os.makedirs(d, exist_ok=True)
            with open(os.path.join(d, "item%05d.cfg" % i), "w") as f:
                f.write(text(rnd, words, rnd.randint(50, 400)))
    elif name == "big":
        block = text(rnd, words, 1 << 20).encode()
        with open(os.path.join(staging, "big.log"), "wb") as f:
            for i in range(300):
                f.write(block[i:] + block[:i])
    os.rename(staging, tree)
    return tree


def tree_size(tree):
    files = total = 0
    for folder, _, names in os.walk(tree):
        for n in names:
            files += 1
            total += os.path.getsize(os.path.join(folder, n))
    return files, total


def native(command):
    """Wall seconds and peak RSS (KiB) of one command, in a child of its own
    so that the peak is this command's alone."""
    probe = ("import resource,subprocess,sys,time;t=time.monotonic();"
             "subprocess.run(sys.argv[1:],check=True,stdout=subprocess.DEVNULL);"
             "print(time.monotonic()-t, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", probe, *command], check=True,
                         capture_output=True, text=True).stdout.split()
    return float(out[0]), int(out[1])


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
        self.sevenzip = shutil.which("7zz") or shutil.which("7z")

    def package(self, name, kind):
        tree = make_tree(self.work, name) if name != "empty" else os.path.join(self.work, "empty")
        os.makedirs(tree, exist_ok=True)
        staged = os.path.join(self.work, "staged-" + name)
        archive = os.path.join(self.work, "%s.%s" % (name, kind))
        if not os.path.exists(archive):
            # The payload: the tree and the stamp program as the default setup program.
            shutil.rmtree(staged, ignore_errors=True)
            shutil.copytree(tree, staged)
            shutil.copy(os.path.join(self.build, "bench", "stamp_setup.exe"),
                        os.path.join(staged, "Tessaro Vantel Installer.exe"))
            if kind == "zip":
                subprocess.run(["zip", "-q", "-r", "-6", archive, "."], cwd=staged, check=True)
            else:
                subprocess.run([self.sevenzip, "a", "-bd", "-bso0", "-t7z", "-m0=LZMA", "-mx=5",
                                "-ms=on", archive, "."], cwd=staged, check=True)
            shutil.rmtree(staged)
        package = os.path.join(self.work, "%s-%s-run.exe" % (name, kind))
        with open(package, "wb") as out:
            for part in (self.launcher, archive):
                with open(part, "rb") as f:
                    shutil.copyfileobj(f, out)
        return tree, archive, package

    def launcher_run(self, package):
        stamp = os.path.join(self.work, "stamp.txt")
        if os.path.exists(stamp):
            os.remove(stamp)
        env = dict(os.environ, TV_STAMP=win_path(stamp))
        out = subprocess.run([self.run, os.path.join(self.build, "bench", "peak_memory.exe"),
                              win_path(package)], env=env, capture_output=True, text=True,
                             check=True).stdout
        fields = dict(item.split("=", 1) for item in out.split())
        if fields["exit"] != "0" or not os.path.exists(stamp):
            raise SystemExit("the package failed: %s" % out.strip())
        with open(stamp) as f:
            started = int(f.read())
        start, stop = int(fields["start_ft"]), int(fields["stop_ft"])
        return {"whole": int(fields["wall_ms"]) / 1000, "to_setup": (started - start) / 1e7,
                "after_setup": (stop - started) / 1e7, "peak": int(fields["peak_working_set_kib"])}

    def measure(self, name, kind):
        tree, archive, package = self.package(name, kind)
        self.launcher_run(package)  # warm-up: file cache, Wine's server
        runs = [self.launcher_run(package) for _ in range(self.runs)]
        result = {key: statistics.median(r[key] for r in runs) for key in runs[0]}
        result["peak"] = max(r["peak"] for r in runs)
        out = os.path.join(self.work, "native-out")
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
        return files, size, os.path.getsize(archive), result, peers


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--only", default=",".join(PAYLOADS))
    ap.add_argument("--launcher", help="the launcher image to run (default: the build's)")
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    bench = Bench(args)
    print("launcher image: %s (%d bytes)" % (bench.launcher, os.path.getsize(bench.launcher)))
    print("%-8s %-4s %6s %8s %8s | %8s %9s %9s %9s | %-6s %8s %9s | %8s %9s | %6s"
          % ("payload", "fmt", "files", "MB", "packed", "whole", "to-setup", "clean-up",
             "peak-WS", "peer", "wall", "max-RSS", "cp -r", "max-RSS", "ratio"))
    for name in args.only.split(","):
        for kind in ("zip", "7z"):
            files, size, packed, r, peers = bench.measure(name, kind)
            peer_name = "unzip" if kind == "zip" else "7zz x"
            peer = peers.get("native")
            cp = peers.get("cp -r")
            print("%-8s %-4s %6d %8.1f %8.1f | %7.2fs %8.2fs %8.2fs %6dKiB | %-6s %s | %s | %6s"
                  % (name, kind, files, size / 1e6, packed / 1e6, r["whole"], r["to_setup"],
                     r["after_setup"], r["peak"], peer_name,
                     "%7.2fs %6dKiB" % peer if peer else "%8s %9s" % ("-", "-"),
                     "%7.2fs %6dKiB" % cp if cp else "%8s %9s" % ("-", "-"),
                     "%.2fx" % (r["whole"] / peer[0]) if peer else "-"),
                  flush=True)
    print("whole: the package's process from start to exit (medians of %d runs); to-setup: start to"
          % args.runs)
    print("the setup program's first instruction; clean-up: from then to exit (the setup program")
    print("exits at once). peak-WS: the launcher's peak working set as Wine reports it (Wine's own")
    print("DLLs included). ratio: whole / the native peer's wall time.")


if __name__ == "__main__":
    main()
