#!/usr/bin/env python3
"""Static checks of a shipped Windows program: PE32 for i386, the expected
subsystem, imports only from system libraries (for the launcher: only those
that may load before its first instruction), every import slot that the code
calls or jumps through filled by the loader, an application manifest that
asks for asInvoker and names the five supported systems, a version resource,
and (for the launcher) no byte sequence that the payload scan could mistake
for the start of a payload."""
import argparse
import struct
import sys

ALLOWED_IMPORTS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
    "shlwapi.dll", "ole32.dll", "oleaut32.dll", "comctl32.dll", "msvcrt.dll",
    "version.dll", "msi.dll", "wininet.dll", "crypt32.dll", "cryptnet.dll",
    "comdlg32.dll", "rpcrt4.dll", "ws2_32.dll", "ntdll.dll",
}
SUPPORTED_OS = [
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10
]
RT_VERSION, RT_MANIFEST = 16, 24


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, self.nsections = struct.unpack_from("<HH", data, self.pe + 4)
        opt_size = struct.unpack_from("<H", data, self.pe + 20)[0]
        self.opt_size = opt_size
        self.opt = self.pe + 24
        self.magic = struct.unpack_from("<H", data, self.opt)[0]
        self.subsystem = struct.unpack_from("<H", data, self.opt + 68)[0]
        dirs = self.opt + (96 if self.magic == 0x10B else 112)
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(16)]
        self.sections = []
        sec = self.opt + opt_size
        for i in range(self.nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, sec + 40 * i)
            self.sections.append((name.rstrip(b"\0"), vsize, va, rawsize, rawptr))

    def offset(self, rva):
        for _, vsize, va, rawsize, rawptr in self.sections:
            if va <= rva < va + max(vsize, rawsize):
                return rawptr + rva - va
        raise ValueError("rva %#x outside every section" % rva)

    def cstr(self, off):
        return self.data[off:self.data.index(b"\0", off)].decode("latin-1")

    def image_end(self):
        return max(rawptr + rawsize for _, _, _, rawsize, rawptr in self.sections)

    def descriptors(self):
        """(library, first import slot RVA, delayed) for each import and
        delay-import descriptor."""
        found = []
        rva, _ = self.dirs[1]
        off = self.offset(rva) if rva else None
        while off is not None:
            desc = struct.unpack_from("<IIIII", self.data, off)
            if desc == (0, 0, 0, 0, 0):
                break
            found.append((self.cstr(self.offset(desc[3])), desc[4], False))
            off += 20
        rva, _ = self.dirs[13]
        off = self.offset(rva) if rva else None
        base = self.image_base()
        while off is not None:
            desc = struct.unpack_from("<8I", self.data, off)
            if not any(desc):
                break
            # Descriptors without the RVA attribute hold addresses.
            fix = 0 if desc[0] & 1 else base
            found.append((self.cstr(self.offset(desc[1] - fix)), desc[3] - fix, True))
            off += 32
        return found

    def imports(self):
        return [name for name, _, delayed in self.descriptors() if not delayed]

    def image_base(self):
        return struct.unpack_from("<I", self.data, self.opt + 28)[0]

    def slot_width(self):
        return 4 if self.magic == 0x10B else 8

    def covered_slots(self):
        """RVAs of the import slots that some descriptor lists: the loader
        (or the delay-load helper) fills exactly these."""
        slots = set()
        width = self.slot_width()
        for _, rva, _ in self.descriptors():
            while True:
                off = self.offset(rva)
                if int.from_bytes(self.data[off:off + width], "little") == 0:
                    break
                slots.add(rva)
                rva += width
        return slots

    def uncovered_slots(self):
        """(slot address, code address) of each indirect call or jump
        (FF 15 / FF 25 with an absolute address, i386) into the import
        sections or the import address table that hits no listed slot."""
        if self.machine != 0x14C:
            return []
        regions = [(va, va + max(vsize, rawsize)) for name, vsize, va, rawsize, _ in self.sections
                   if name in (b".idata", b".didat")]
        iat_rva, iat_size = self.dirs[12]
        if iat_rva:
            regions.append((iat_rva, iat_rva + iat_size))
        covered = self.covered_slots()
        base = self.image_base()
        found = {}
        for index, (name, vsize, va, rawsize, rawptr) in enumerate(self.sections):
            chars = struct.unpack_from("<I", self.data, self.opt + self.opt_size + 40 * index + 36)[0]
            if not chars & 0x20000000:  # executable sections only
                continue
            code = self.data[rawptr:rawptr + min(vsize, rawsize) if vsize else rawsize]
            at = code.find(b"\xff")
            while 0 <= at <= len(code) - 6:
                if code[at + 1] in (0x15, 0x25):
                    target = struct.unpack_from("<I", code, at + 2)[0] - base
                    if any(lo <= target < hi for lo, hi in regions) and target not in covered:
                        found.setdefault(target + base, va + at + base)
                at = code.find(b"\xff", at + 1)
        return sorted(found.items())

    def resources(self, rtype):
        rva, size = self.dirs[2]
        if not rva:
            return []
        base = self.offset(rva)

        def entries(off):
            named, ids = struct.unpack_from("<HH", self.data, off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, off + 16 + 8 * i)
                yield name, target

        found = []
        for name, target in entries(base):
            if name != rtype or not target & 0x80000000:
                continue
            for _, t2 in entries(base + (target & 0x7FFFFFFF)):
                for _, t3 in entries(base + (t2 & 0x7FFFFFFF)):
                    drva, dsize = struct.unpack_from("<II", self.data, base + t3)
                    off = self.offset(drva)
                    found.append(self.data[off:off + dsize])
        return found


def version_string(block, key):
    """The value of one StringFileInfo entry of a version resource, or None."""
    needle = (key + "\0").encode("utf-16-le")
    at = block.find(needle)
    if at < 0 or at < 6:
        return None
    value = (at + len(needle) + 3) & ~3
    end = value
    while end + 1 < len(block) and block[end:end + 2] != b"\0\0":
        end += 2
    return block[value:end].decode("utf-16-le", "replace")


def version_problems(manifest, block, version):
    """What differs from `version` (text "a.b.c.d") in the manifest's identity,
    the fixed file and product versions and the two version strings."""
    problems = []
    if ('version="%s"' % version) not in manifest.split("<dependency")[0]:
        problems.append("manifest identity does not carry version %s" % version)
    numbers = [int(part) for part in version.split(".")]
    at = block.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        problems.append("version resource has no fixed file info")
    else:
        fms, fls, pms, pls = struct.unpack_from("<IIII", block, at + 8)
        want = (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3])
        if (fms, fls) != want or (pms, pls) != want:
            problems.append("fixed file or product version is not %s" % version)
    for key in ("FileVersion", "ProductVersion"):
        if version_string(block, key) != version:
            problems.append("version string %s is %r, not %s" % (key, version_string(block, key), version))
    return problems


def check(path, subsystem, no_signatures, early_imports=None, version=None):
    data = open(path, "rb").read()
    pe = Pe(data)
    problems = []
    if pe.machine != 0x14C or pe.magic != 0x10B:
        problems.append("not PE32 for i386 (machine %#x, magic %#x)" % (pe.machine, pe.magic))
    want = {"gui": 2, "console": 3}[subsystem]
    if pe.subsystem != want:
        problems.append("subsystem %d, expected %d (%s)" % (pe.subsystem, want, subsystem))
    for dll in pe.imports():
        if dll.lower() not in ALLOWED_IMPORTS:
            problems.append("imports %s, which is not a system library of the allow-list" % dll)
        if early_imports is not None and dll.lower() not in early_imports:
            problems.append("imports %s, which loads before the first instruction" % dll)
    for slot, at in pe.uncovered_slots():
        problems.append("import slot %#x (called at %#x) is filled by no import descriptor"
                        % (slot, at))
    manifests = pe.resources(RT_MANIFEST)
    if not manifests:
        problems.append("no application manifest")
    else:
        text = manifests[0].decode("utf-8", "replace").lower()
        if 'level="asinvoker"' not in text:
            problems.append("manifest does not ask for asInvoker")
        for guid in SUPPORTED_OS:
            if guid not in text:
                problems.append("manifest lacks supportedOS " + guid)
    if not pe.resources(RT_VERSION):
        problems.append("no version resource")
    elif version is not None and manifests:
        problems += version_problems(manifests[0].decode("utf-8", "replace"), pe.resources(RT_VERSION)[0],
                                     version)
    if no_signatures:
        image = data[:pe.image_end()]
        at = image.find(b"PK\x03\x04")
        if at >= 0:
            problems.append("ZIP local header signature inside the image at %#x" % at)
        start = 0
        while True:
            at = image.find(b"7z\xbc\xaf\x27\x1c", start)
            if at < 0:
                break
            if at + 32 < len(data) and data[at + 32] == 0:
                problems.append("7z signature with 00 at +32 inside the image at %#x" % at)
            start = at + 1
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--subsystem", choices=["gui", "console"], required=True)
    ap.add_argument("--no-payload-signatures", action="store_true")
    ap.add_argument("--early-imports", metavar="DLL,...",
                    help="the only libraries the import table may name")
    ap.add_argument("--version", metavar="A.B.C.D",
                    help="the version the manifest and the version resource must carry")
    ap.add_argument("exe")
    args = ap.parse_args()
    early = None
    if args.early_imports is not None:
        early = {name.strip().lower() for name in args.early_imports.split(",") if name.strip()}
    problems = check(args.exe, args.subsystem, args.no_payload_signatures, early, args.version)
    for p in problems:
        print("%s: %s" % (args.exe, p))
    if not problems:
        print("%s: imports %s; all checks passed" % (args.exe, ", ".join(Pe(open(args.exe, "rb").read()).imports())))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
