#!/usr/bin/env python3
"""Turns 7z archives into the input form of seven_zip_fuzzer: 2 bytes
little-endian with the length H of the header, the H bytes of the header,
then the packed streams (the fuzzer lays them out as an archive again, behind
a signature header with its CRCs).

usage: seven_zip_seeds.py <7z program> <archive folder> <seed folder>
(then writes <seed folder>.stamp)

Besides every archive in the folder, a few of their source trees are packed
again with a plain (not compressed) header, so that mutations of the seeds
reach the names and the other file properties directly.
"""
import glob
import os
import struct
import subprocess
import sys

SEVEN_ZIP, ARCHIVES, SEEDS = sys.argv[1:4]
PLAIN = ["mixed", "solid_many", "filter_bcj2", "filter_delta", "damaged"]


def seed(archive, name):
    data = open(archive, "rb").read()
    if len(data) < 32 or data[:6] != b"7z\xbc\xaf\x27\x1c":
        return
    offset, size = struct.unpack_from("<QQ", data, 12)
    if size > 0xFFFF:
        return
    packed = data[32:32 + offset]
    header = data[32 + offset:32 + offset + size]
    with open(os.path.join(SEEDS, name), "wb") as f:
        f.write(struct.pack("<H", len(header)) + header + packed)


os.makedirs(SEEDS, exist_ok=True)
# The archive without names is left out: the unit tests hold it, and the
# fuzzer is to find such inputs by itself.
for archive in sorted(glob.glob(os.path.join(ARCHIVES, "*.7z"))):
    if os.path.basename(archive) != "nameless.7z":
        seed(archive, os.path.basename(archive)[:-3])
for name in PLAIN:
    root = os.path.join(ARCHIVES, "src", name)
    if not os.path.isdir(root):
        continue
    archive = os.path.join(SEEDS, name + "_plain.7z")
    if os.path.exists(archive):
        os.remove(archive)
    subprocess.run([SEVEN_ZIP, "a", "-bd", "-bso0", "-mhc=off", "-mtm=off", "-mtc=off", "-mta=off",
                    "-m0=LZMA", archive, "."], cwd=root, check=True)
    seed(archive, name + "_plain")
    os.remove(archive)
open(SEEDS + ".stamp", "w").write("seeds\n")
