#!/usr/bin/env python3
"""Writes the seeds of launcher_payload_fuzzer: a first byte (the harness takes
the extraction folder length and the reader's piece size from it), then
payload bytes - ZIP files, stored and deflated, with folders and a launch
descriptor, some behind bytes that stand for the launcher's image. The
signatures are compared inverted in the launcher, so the fuzzer cannot learn
them from its comparisons; the seeds and the dictionary give them.

usage: launcher_payload_seeds.py <seed folder>
"""
import io
import os
import sys
import zipfile

SEEDS = sys.argv[1]


def zip_bytes(entries, method):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", method) as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))
            info.compress_type = method
            z.writestr(info, data)
    return out.getvalue()


entries = [(".launch", b"bin/setup.exe\r\nignored\r\n"), ("bin/", b""),
           ("bin/setup.exe", b"MZ" + bytes(200)), ("data/a.txt", b"a" * 300),
           ("data/deeper/b.txt", b"b\n" * 50), ("empty", b"")]
os.makedirs(SEEDS, exist_ok=True)
seeds = {
    "stored": b"\x00" + zip_bytes(entries, zipfile.ZIP_STORED),
    "deflated": b"\x11" + zip_bytes(entries, zipfile.ZIP_DEFLATED),
    "behind_image": b"\x25" + b"MZ" + bytes(600) + zip_bytes(entries[:3], zipfile.ZIP_DEFLATED),
    "one_entry": b"\x07" + zip_bytes([("a", b"1")], zipfile.ZIP_STORED),
}
for name, data in seeds.items():
    open(os.path.join(SEEDS, name), "wb").write(data)
open(SEEDS + ".stamp", "w").write("seeds\n")
