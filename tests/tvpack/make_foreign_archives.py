#!/usr/bin/env python3
"""Makes payloads with the tools publishers use (zip, python's zipfile, 7zz),
each holding the recorder as the default setup program, and says for each
what the launcher must do with it:

  <name>.payload   the archive's bytes
  <name>.tree/     what unzip or 7zz x makes of it (cases that unpack)
  cases.txt        one line per case: <name> TAB "tree", or
                   <name> TAB "refuse" TAB <words tvpack verify must give>

usage: make_foreign_archives.py <output folder> <recorder.exe> <7z program>
"""
import io
import os
import shutil
import subprocess
import sys
import zipfile

OUT, RECORDER, SEVEN_ZIP = sys.argv[1], sys.argv[2], sys.argv[3]
SETUP = "Tessaro Vantel Installer.exe"
STAGE = os.path.join(OUT, "stage")
cases = []


def run(args, cwd, ok=(0,), stdout=None):
    code = subprocess.run(args, cwd=cwd, stdout=stdout or subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode
    assert code in ok, (args, code)


def source(name, files=None, folders=()):
    """A folder with the setup program, `files` ({name: bytes}) and the empty
    `folders`."""
    root = os.path.join(STAGE, name)
    os.makedirs(root)
    shutil.copy(RECORDER, os.path.join(root, SETUP))
    for rel, data in (files or {}).items():
        path = os.fsencode(os.path.join(root, rel))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    for rel in folders:
        os.makedirs(os.path.join(root, rel), exist_ok=True)
    return root


def expect_tree(name, extract):
    """Unpacks <name>.payload with `extract` (unzip or 7zz x) into <name>.tree."""
    tree = os.path.join(OUT, name + ".tree")
    os.makedirs(tree)
    payload = os.path.abspath(os.path.join(OUT, name + ".payload"))
    if extract == "unzip":
        # 1: warnings only, such as names with backslashes (which it takes as
        # separators, as the launcher does).
        run(["unzip", "-q", payload, "-d", tree], OUT, ok=(0, 1))
    else:
        run([SEVEN_ZIP, "x", "-bd", "-y", "-o" + tree, payload], OUT)
    cases.append(name + "\ttree")


def refuse(name, reason):
    cases.append(name + "\trefuse\t" + reason)


def payload(name):
    return os.path.join(OUT, name + ".payload")


DATA = {"docs/readme.txt": b"read me\n", "docs/numbers.txt": b"".join(
    b"%d\n" % (i * 7) for i in range(20000)), "empty.txt": b"",
    "donn\u00e9es/\u00e9t\u00e9.txt": b"summer\n"}
FOLDERS = ["emptydir", "docs/empty too"]


def zip_cases():
    root = source("zip_deflate", DATA, FOLDERS)
    run(["zip", "-q", "-r", payload("zip_deflate"), "."], root)
    expect_tree("zip_deflate", "unzip")

    root = source("zip_stored", DATA, FOLDERS)
    run(["zip", "-q", "-0", "-r", payload("zip_stored"), "."], root)
    expect_tree("zip_stored", "unzip")

    # Written to a pipe: sizes and CRC follow each entry's data.
    root = source("zip_pipe", DATA)
    with open(payload("zip_pipe"), "wb") as out:
        run(["sh", "-c", "zip -q -r - . | cat"], root, stdout=out)
    refuse("zip_pipe", "(data descriptor)")

    root = source("zip_descriptors", DATA)
    run(["zip", "-q", "-fd", "-r", payload("zip_descriptors"), "."], root)
    refuse("zip_descriptors", "(data descriptor)")

    root = source("zip_encrypted", DATA)
    run(["zip", "-q", "-P", "secret", "-r", payload("zip_encrypted"), SETUP, "docs"], root)
    refuse("zip_encrypted", SETUP + ": the entry is encrypted")

    root = source("zip_zip64", DATA)
    run(["zip", "-q", "-fz", "-r", payload("zip_zip64"), SETUP], root)
    refuse("zip_zip64", SETUP + ": zip64")

    # A name in the system's code page on a machine that writes it as it is
    # (bit 11 clear): 0x82 is no UTF-8.
    root = source("zip_codepage", {"caf\udc82.txt": b"cafe\n"})
    run(["zip", "-q", payload("zip_codepage"), SETUP, os.fsencode("caf\udc82.txt")], root)
    refuse("zip_codepage", "caf\\x82.txt: the name is not valid UTF-8")

    # Names a Linux machine keeps and Windows does not: a "?" (no file of
    # that name can be made) and a trailing dot (Windows drops it).
    root = source("zip_question_mark", {"what?.txt": b"?\n"})
    run(["zip", "-q", payload("zip_question_mark"), SETUP, "what?.txt"], root)
    refuse("zip_question_mark", "what?.txt: Windows would write the name otherwise")


def python_cases():
    setup = open(RECORDER, "rb").read()

    # Names as written on Windows, with backslashes: a folder entry among
    # them, and no entry for the folder "a" before "a\b.txt". Marked as
    # written there, so that unzip takes the backslashes as separators too.
    def windows_entry(name):
        info = zipfile.ZipInfo(name)
        info.create_system = 0
        return info

    with zipfile.ZipFile(payload("python_backslash"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(windows_entry(SETUP), setup)
        z.writestr(windows_entry("a\\b.txt"), b"b\n")
        z.writestr(windows_entry("d\\e\\"), b"")
        z.writestr(windows_entry("x\\y\\z.txt"), b"z\n")
        z.writestr(windows_entry("empty\\"), b"")
    expect_tree("python_backslash", "unzip")

    # An unseekable output: every entry has a data descriptor, its header CRC
    # and sizes 0. The stored ZIP inside would pass for the payload's own
    # entries if the outer entry were taken for an empty file.
    inner = io.BytesIO()
    with zipfile.ZipFile(inner, "w", zipfile.ZIP_STORED) as z:
        z.writestr(SETUP, setup)

    class Unseekable(io.RawIOBase):
        def __init__(self, f):
            self.f = f

        def writable(self):
            return True

        def write(self, b):
            return self.f.write(b)

        def seekable(self):
            return False

    with open(payload("python_unseekable"), "wb") as f:
        with zipfile.ZipFile(Unseekable(f), "w", zipfile.ZIP_STORED) as z:
            z.writestr("inner.zip", inner.getvalue())
            z.writestr("after.txt", b"after\n")
    refuse("python_unseekable", "inner.zip: the entry's CRC and sizes follow its data")

    with zipfile.ZipFile(payload("python_zip64"), "w", zipfile.ZIP_DEFLATED) as z:
        with z.open(SETUP, "w", force_zip64=True) as f:
            f.write(setup)
    refuse("python_zip64", SETUP + ": zip64")


def seven_zip_cases():
    root = source("sevenzip_lzma", DATA, FOLDERS)
    run([SEVEN_ZIP, "a", "-bd", "-m0=LZMA", payload("sevenzip_lzma") + ".7z", "."], root)
    os.rename(payload("sevenzip_lzma") + ".7z", payload("sevenzip_lzma"))
    expect_tree("sevenzip_lzma", "7z")

    root = source("sevenzip_tzip", DATA, FOLDERS)
    run([SEVEN_ZIP, "a", "-bd", "-tzip", payload("sevenzip_tzip") + ".zip", "."], root)
    os.rename(payload("sevenzip_tzip") + ".zip", payload("sevenzip_tzip"))
    expect_tree("sevenzip_tzip", "unzip")

    for method, number in [("BZip2", 12), ("LZMA", 14)]:
        name = "sevenzip_tzip_" + method.lower()
        root = source(name, DATA)
        run([SEVEN_ZIP, "a", "-bd", "-tzip", "-mm=" + method, payload(name) + ".zip", "."], root)
        os.rename(payload(name) + ".zip", payload(name))
        refuse(name, "compression method %d " % number)

    root = source("sevenzip_trailing_dot", {"notes.": b"notes\n"})
    run([SEVEN_ZIP, "a", "-bd", "-m0=LZMA", payload("sevenzip_trailing_dot") + ".7z", "."], root)
    os.rename(payload("sevenzip_trailing_dot") + ".7z", payload("sevenzip_trailing_dot"))
    refuse("sevenzip_trailing_dot", "Windows would write it otherwise")

    # The default coder (LZMA2), and Copy over a stored ZIP whose entries
    # would be found by scanning on into the archive.
    inner = os.path.join(STAGE, "inner.zip")
    run(["zip", "-q", "-0", "-j", inner, os.path.join(source("inner"), SETUP)], STAGE)
    for name, switches in [("sevenzip_lzma2", []), ("sevenzip_copy", ["-m0=Copy"])]:
        root = source(name)
        shutil.copy(inner, os.path.join(root, "inner.zip"))
        run([SEVEN_ZIP, "a", "-bd"] + switches + [payload(name) + ".7z", "inner.zip"], root)
        os.rename(payload(name) + ".7z", payload(name))
        refuse(name, "a 7z archive whose first stream is not LZMA")


def main():
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(STAGE)
    zip_cases()
    python_cases()
    seven_zip_cases()
    shutil.rmtree(STAGE)
    with open(os.path.join(OUT, "cases.txt"), "w") as f:
        f.write("\n".join(cases) + "\n")


main()
