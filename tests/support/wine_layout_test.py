#!/usr/bin/env python3
"""A 64-bit Wine process started through the build's wine-run keeps its heap
next to the loader, below the range Wine reserves for the shared user data
page (0x7ff00000-0x7fff0000). With address randomization the kernel may put
the heap there, and about one process start in 900 then fails (the child
dies mapping that page; CreateProcess says 1359).

Usage: wine_layout_test.py <wine-run>"""
import subprocess
import sys

ADDR_NO_RANDOMIZE = 0x0040000
RESERVED = (0x7FF00000, 0x7FFF0000)


def main():
    run = sys.argv[1]
    # cmd waits for a line on its standard input: long enough to look at it.
    child = subprocess.Popen([run, "cmd", "/c", "set /p x="], stdin=subprocess.PIPE,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # wine-run and what it runs replace themselves: the pid is Wine's
        # process once its maps show the loader.
        maps = ""
        for _ in range(200):
            with open("/proc/%d/maps" % child.pid) as f:
                maps = f.read()
            if "[heap]" in maps and "wine64" in maps:
                break
            subprocess.run(["sleep", "0.05"])
        with open("/proc/%d/personality" % child.pid) as f:
            personality = int(f.read().strip(), 16)
    finally:
        child.communicate(b"\n", timeout=60)
    failures = []
    if not personality & ADDR_NO_RANDOMIZE:
        failures.append("address randomization is on (personality %08x)" % personality)
    heaps = [line for line in maps.splitlines() if line.endswith("[heap]")]
    if not heaps:
        failures.append("no heap found in the process's maps")
    loader = [int(line.split("-")[0], 16) for line in maps.splitlines() if line.endswith("/wine64")]
    for line in heaps:
        start, end = (int(x, 16) for x in line.split()[0].split("-"))
        if start < RESERVED[1] and end > RESERVED[0]:
            failures.append("the heap lies in Wine's reserved range: " + line)
        if loader and not start - min(loader) < 16 << 20:
            failures.append("the heap does not follow the loader (%x): %s" % (min(loader), line))
    for f in failures:
        print("FAIL:", f)
    if not failures:
        print("heap %s, personality %08x" % (heaps[0].split()[0], personality))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
