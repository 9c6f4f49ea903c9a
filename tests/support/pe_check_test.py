#!/usr/bin/env python3
"""The image checks must fail on the faults they exist for. Each case damages
a copy of a good image the way a broken build would and expects pe_check to
name the fault. usage: pe_check_test.py <pe_check.py> <good launcher image>"""
import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(sys.argv[1])))
import pe_check  # noqa: E402


def drop_last_descriptor(data):
    """The import table loses its last library: its slots stay in the file,
    the code still calls through them, and no loader fills them."""
    pe = pe_check.Pe(data)
    rva, _ = pe.dirs[1]
    off = pe.offset(rva)
    count = len(pe.imports())
    last = off + 20 * (count - 1)
    return data[:last] + bytes(20) + data[last + 20:]


CASES = [
    # (name, damage, extra arguments, text the report must contain)
    ("uncovered slot", drop_last_descriptor, [], "is filled by no import descriptor"),
    ("library loaded before the first instruction", lambda d: d,
     ["--early-imports", "kernel32.dll"], "which loads before the first instruction"),
    ("manifest of another version", lambda d: d, ["--version", "1.2.3.4"],
     "manifest identity does not carry version 1.2.3.4"),
    ("version resource of another version", lambda d: d, ["--version", "1.2.3.4"],
     "version string FileVersion is"),
]


def main():
    checker, image = sys.argv[1], sys.argv[2]
    good = open(image, "rb").read()
    failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        for name, damage, extra, expected in CASES:
            path = os.path.join(scratch, "damaged.exe")
            with open(path, "wb") as out:
                out.write(damage(good))
            run = subprocess.run([sys.executable, checker, "--subsystem", "gui", *extra, path],
                                 capture_output=True, text=True)
            if run.returncode == 0 or expected not in run.stdout:
                print("FAIL %s: exit %d\n%s" % (name, run.returncode, run.stdout))
                failures += 1
            else:
                print("ok   %s: %s" % (name, run.stdout.splitlines()[0]))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
