#!/usr/bin/env python3
"""Makes the 7z archives of the launcher's tests with the 7-Zip command-line
program: each archive beside the tree it was made from (src/<name>/), so a
test can compare what comes out with what went in.

usage: make_7z_archives.py <7z program> <output folder> [<setup program>]

With a setup program, "with_setup.7z" also holds it as the launcher's default
setup program, "Tessaro Vantel Installer.exe", beside a few data files.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import zlib

SEVEN_ZIP, OUT = sys.argv[1], sys.argv[2]
SETUP = sys.argv[3] if len(sys.argv) > 3 else None
SRC = os.path.join(OUT, "src")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def tree(name, files, folders=()):
    """Creates src/<name> holding `files` ({relative name: bytes}) and the
    empty `folders`."""
    root = os.path.join(SRC, name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    for rel, data in files.items():
        write(os.path.join(root, rel), data)
    for rel in folders:
        os.makedirs(os.path.join(root, rel), exist_ok=True)
    return root


def pack(name, switches, root, paths=(".",)):
    """Packs `paths` below `root` (default: all of it). Files named one by one
    come without items for the folders on their way."""
    archive = os.path.join(OUT, name + ".7z")
    if os.path.exists(archive):
        os.remove(archive)
    subprocess.run([SEVEN_ZIP, "a", "-bd", "-bso0", "-mtm=off", "-mtc=off", "-mta=off"]
                   + switches + [archive] + list(paths), cwd=root, check=True)
    return archive


def listing(archive):
    return subprocess.run([SEVEN_ZIP, "l", "-slt", archive], check=True,
                          capture_output=True, text=True).stdout


def program_like(seed, size):
    """Bytes that compress somewhat and hold branch-like patterns: calls
    (E8) and jumps (E9), so that BCJ2 has all of its streams."""
    rng = random.Random(seed)
    noise = rng.randbytes(size + 64)
    out = bytearray()
    i = 0
    while len(out) < size:
        n = 4 + noise[i + 2] % 20
        op = b"\xE8" if noise[i + 2] & 32 else b"\xE9"
        out += op + noise[i:i + 2] + b"\0\0" + bytes(b & 7 for b in noise[i + 3:i + 3 + n])
        i = (i + 3 + n) % size
    return bytes(out[:size])


def patch_names(archive, pairs):
    """Rewrites names in an archive with an uncompressed header: each pair
    (old, new) of equal length, as UTF-16LE, then mends both header CRCs."""
    data = bytearray(open(archive, "rb").read())
    offset, size = struct.unpack_from("<QQ", data, 12)
    start = 32 + offset
    header = bytes(data[start:start + size])
    for old, new in pairs:
        o, n = old.encode("utf-16-le"), new.encode("utf-16-le")
        assert len(o) == len(n) and o in header, (archive, old)
        header = header.replace(o, n)
    data[start:start + size] = header
    struct.pack_into("<I", data, 28, zlib.crc32(header))
    struct.pack_into("<I", data, 8, zlib.crc32(bytes(data[12:32])))
    open(archive, "wb").write(bytes(data))


def raw_archive(name, packed, header):
    """Writes <name>.7z: `packed`, then the plain `header`, behind a signature
    header with both CRCs right."""
    after = struct.pack("<QQI", len(packed), len(header), zlib.crc32(header))
    data = b"7z\xbc\xaf\x27\x1c\x00\x04" + struct.pack("<I", zlib.crc32(after)) + after
    archive = os.path.join(OUT, name + ".7z")
    open(archive, "wb").write(data + packed + header)
    return archive


def main():
    os.makedirs(OUT, exist_ok=True)
    made = []

    # One solid block of many files in nested folders.
    files = {"docs/part%d/file%02d.txt" % (i % 4, i):
             (("line %d of file %d\n" % (0, i)) * (50 + 7 * i)).encode() for i in range(60)}
    a = pack("solid_many", ["-m0=LZMA", "-ms=on"], tree("solid_many", files))
    assert "Blocks = 1" in listing(a), "solid_many is not one block"
    made.append(a)

    # Empty files, an empty folder and nested folders with existing levels.
    files = {"empty.txt": b"", "a/x.txt": b"x" * 100, "a/b/c/d.txt": b"deep\n" * 20,
             "a/b/y.txt": b"", "top.txt": b"top\n" * 30}
    made.append(pack("mixed", ["-m0=LZMA"], tree("mixed", files, ["emptydir", "a/b/emptytoo"])))

    # Each branch filter and Delta in front of LZMA; the program is larger
    # than the decoder's buffers, so that it is decoded in several pieces.
    for filt, tag in [("BCJ", "BCJ"), ("BCJ2", "BCJ2"), ("PPC", "PPC"), ("IA64", "IA64"),
                      ("ARM", "ARM"), ("ARMT", "ARMT"), ("SPARC", "SPARC"),
                      ("ARM64", "ARM64"), ("RISCV", "RISCV"), ("Delta:4", "Delta")]:
        name = "filter_" + tag.lower()
        files = {"prog.bin": program_like(tag, 700000),
                 "readme.txt": b"filter %s\n" % tag.encode()}
        a = pack(name, ["-m0=LZMA", "-mf=" + filt], tree(name, files))
        assert tag in listing(a), (name, listing(a))
        made.append(a)

    # LZMA2 as the first coder: its first packed byte is not 00.
    a = pack("lzma2_first", ["-m0=LZMA2"], tree("lzma2_first", {"data.txt": b"lzma2 data\n" * 500}))
    assert open(a, "rb").read()[32] != 0
    made.append(a)

    # Two files in two blocks; the second block's packed stream is damaged.
    rng = random.Random(5)
    files = {"1.dat": b"first file\n" * 200, "2.dat": bytes(rng.randrange(256) for _ in range(65536))}
    a = pack("damaged", ["-m0=LZMA", "-ms=off"], tree("damaged", files))
    packed_first = int(listing(a).split("Path = 1.dat")[1].split("Packed Size = ")[1].split()[0])
    data = bytearray(open(a, "rb").read())
    at = 32 + packed_first + 20000
    data[at] ^= 0x55
    data[at + 1] ^= 0xAA
    open(a, "wb").write(bytes(data))
    made.append(a)

    # One file stored (Copy) in pieces, one byte of it changed: its CRC fails
    # only after most of it was handed over.
    a = pack("crc_mismatch", ["-m0=Copy"],
             tree("crc_mismatch", {"stored.bin": random.Random(6).randbytes(3 << 20)}))
    data = bytearray(open(a, "rb").read())
    data[32 + (5 << 19)] ^= 0x01
    open(a, "wb").write(bytes(data))
    made.append(a)

    # One solid block of 24 MB with a 1 MB dictionary: more than the memory
    # the tests give the walk.
    line = b"".join(b"line %06d of a long block\n" % i for i in range(4000))
    files = {"big/%d.txt" % i: (b"part %d\n" % i + line) * 75 for i in range(3)}
    a = pack("big_block", ["-m0=LZMA:d=1m", "-ms=on", "-mx=1"], tree("big_block", files))
    assert "Blocks = 1" in listing(a), "big_block is not one block"
    made.append(a)

    # Names of 117 and 118 characters (118 and 119 units with the terminator).
    for n in (117, 118):
        name = "name_%d" % n
        made.append(pack(name, ["-m0=LZMA"], tree(name, {"n" * (n - 4) + ".txt": b"long name\n"})))

    # Names that would leave the extraction folder; each archive first holds a
    # harmless file, and no folder items (which come before every file).
    for name, source, pairs in [
            ("refused_parent", {"qq/evil.txt": b"evil\n"}, [("qq", "..")]),
            ("refused_deep_parent", {"a/qq/qq/evil.txt": b"evil\n"}, [("a/qq/qq", "a/../..")]),
            ("refused_drive", {"CQevil.txt": b"evil\n"}, [("CQevil", "C:evil")]),
            ("refused_leading", {"Qevil.txt": b"evil\n"}, [("Qevil", "/evil")]),
            ("refused_backslash", {"Qevil.txt": b"evil\n"}, [("Qevil", "\\evil")]),
            ("refused_device", {"qqq.txt": b"evil\n"}, [("qqq.txt", "nul.txt")]),
            ("refused_device_folder", {"a/QQQ/evil.txt": b"evil\n"}, [("a/QQQ", "a/CON")]),
            ("refused_device_port", {"qqqq.log": b"evil\n"}, [("qqqq.log", "COM1.log")])]:
        files = dict(source)
        files["0ok.txt"] = b"fine\n"
        a = pack(name, ["-m0=LZMA", "-mhc=off", "-ms=off"], tree(name, files), sorted(files))
        patch_names(a, pairs)
        made.append(a)

    # A refused name on an empty folder's item alone: folder items are made,
    # so they obey the name rule too.
    for name, pairs in [("refused_folder_parent", [("qq", "..")]),
                        ("refused_folder_device", [("qqq", "nul")])]:
        a = pack(name, ["-m0=LZMA", "-mhc=off"],
                 tree(name, {"0ok.txt": b"fine\n"}, [pairs[0][0]]))
        patch_names(a, pairs)
        made.append(a)

    # No names table at all: one empty file and nothing else in the header
    # (kHeader, kFilesInfo, 1 file, kEmptyStream, kEmptyFile, the two ends).
    header = bytes([0x01, 0x05, 0x01, 0x0E, 0x01, 0x80, 0x0F, 0x01, 0x80, 0x00, 0x00])
    made.append(raw_archive("nameless", b"\0", header))

    if SETUP:
        # A device name beside the setup program: nothing may run.
        files = {"Tessaro Vantel Installer.exe": open(SETUP, "rb").read(), "qqq.txt": b"lost\n"}
        a = pack("device_with_setup", ["-m0=LZMA", "-mhc=off", "-ms=off"],
                 tree("device_with_setup", files))
        patch_names(a, [("qqq.txt", "nul.txt")])
        made.append(a)
        files = {"Tessaro Vantel Installer.exe": open(SETUP, "rb").read(),
                 "data/one.txt": b"one\n" * 100, "data/deeper/two.txt": b"two\n" * 100}
        made.append(pack("with_setup", ["-m0=LZMA", "-ms=on"], tree("with_setup", files)))

    for a in made:
        assert open(a, "rb").read()[32] == 0 or "lzma2" in a or "crc_mismatch" in a, a
    open(os.path.join(OUT, "stamp"), "w").write("\n".join(made) + "\n")


main()
