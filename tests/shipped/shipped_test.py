#!/usr/bin/env python3
"""The shipped tier: a few end-to-end cases run on the i686 images that ship,
under 32-bit Wine, natively where the kernel runs 32-bit programs and through
a user-mode emulator elsewhere (then about 50 s a process, so every case
starts as few processes as it can and everything else happens here, on the
Linux side). A case that cannot run because 32-bit Wine does not run here
ends with 77, which ctest reports as skipped.

usage: shipped_test.py CONFIG CASE
CONFIG is a JSON file written by the build (paths of the images, the runner,
the prefix, the test PKI); CASE is one of the names in CASES."""
import contextlib
import fcntl
import http.server
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import threading
import time
import zipfile

SKIP = 77


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Tier:
    def __init__(self, config):
        self.c = config
        self.work = os.path.join(config["work"], CASE_NAME)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)

    def mode(self):
        return subprocess.run(["sh", self.c["mode_script"], self.c["loader"]],
                              capture_output=True, text=True).stdout.strip()

    def wine(self, args, env=None, timeout=900, cwd=None):
        """Runs one Windows program; returns (exit code, standard output).
        The output goes through files, not pipes: Wine's background
        services, started by the first program of a server, keep that
        program's handles, and a pipe would then never reach its end."""
        full = dict(os.environ)
        full.update(env or {})
        started = time.monotonic()
        out_path = os.path.join(self.work, "stdout.bin")
        err_path = os.path.join(self.work, "stderr.txt")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            code = subprocess.run([self.c["runner"], *args], env=full, cwd=cwd or self.work,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  timeout=timeout).returncode
        print("  %.1f s: %s -> %d" % (time.monotonic() - started, " ".join(args)[:120], code))
        with open(err_path, "rb") as f:
            errors = f.read().decode("utf-8", "replace").strip()
        if errors:
            print("  stderr: " + errors[:2000])
        with open(out_path, "rb") as f:
            return code, f.read()

    def temp_folders(self):
        """The Unix folders behind the prefix user's temporary folder."""
        users = os.path.join(self.c["prefix"], "drive_c", "users")
        found = []
        for user in sorted(os.listdir(users)) if os.path.isdir(users) else []:
            for rel in ("Temp", os.path.join("AppData", "Local", "Temp")):
                path = os.path.join(users, user, rel)
                if os.path.isdir(path) and not os.path.islink(path):
                    found.append(path)
        return found

    def temp_entries(self, pattern=None):
        """Entries of the temporary folder; with `pattern`, only the names
        that match it (the cases of one lane may run beside the other's)."""
        return {os.path.join(t, name) for t in self.temp_folders() for name in os.listdir(t)
                if pattern is None or re.match(pattern, name, re.IGNORECASE)}

    def record(self, path):
        """The recorder's "key=value" lines as a dict of lists."""
        expect(os.path.exists(path), "the stand-in program did not run (no %s)" % path)
        lines = {}
        with open(path, encoding="utf-8") as f:
            for line in f.read().splitlines():
                key, _, value = line.partition("=")
                lines.setdefault(key, []).append(value)
        return lines

    def payload_tree(self):
        """A payload folder: the recorder as the setup program, which a
        ".launch" names, a file beside it and a nested one."""
        tree = os.path.join(self.work, "tree")
        os.makedirs(os.path.join(tree, "setup"))
        os.makedirs(os.path.join(tree, "data", "nested"))
        shutil.copy(self.c["recorder"], os.path.join(tree, "setup", "setup.exe"))
        with open(os.path.join(tree, "setup", "beside.txt"), "w") as f:
            f.write("beside\n")
        with open(os.path.join(tree, "data", "nested", "numbers.txt"), "w") as f:
            f.write("\n".join(str(i) for i in range(20000)))
        with open(os.path.join(tree, ".launch"), "wb") as f:
            f.write(b"setup\\setup.exe\r\n")
        return tree

    # What the launcher makes in the temporary folder: its extraction folder
    # (GetTempFileNameW with the prefix "Vantel") and the relaunch copy's
    # folder (a GUID).
    LAUNCHER_NAMES = r"^van[0-9a-f]{1,4}\.tmp$|^\{[0-9a-f-]{36}\}$"

    def append_to_launcher(self, package, payload):
        """Writes `package`: the launcher's image with `payload` appended."""
        with open(package, "wb") as out:
            for part in (self.c["launcher"], payload):
                with open(part, "rb") as f:
                    out.write(f.read())

    def run_package(self, package, expected_kinds):
        """Runs a package with arguments and an exit code for its setup
        program; checks what the setup program got and that the temporary
        folder is left as it was."""
        before = self.temp_entries(self.LAUNCHER_NAMES)
        record = os.path.join(self.work, "record.txt")
        code, _ = self.wine([package, "one", "two words", "-x"],
                            env={"TV_RECORD": win_path(record), "TV_EXIT_CODE": "7"})
        expect(code == 7, "exit code %d, expected the setup program's 7" % code)
        r = self.record(record)
        cmdline = r["cmdline"][0]
        expect(cmdline.endswith(' one "two words" -x'), "setup program's command line: " + cmdline)
        self_path = r["self"][0]
        expect(self_path.lower().endswith("\\setup\\setup.exe"), "setup program ran as " + self_path)
        expect(sorted(r.get("file", [])) == ["beside.txt", "setup.exe"],
               "beside the setup program: %s" % r.get("file"))
        kinds = [name for name in expected_kinds if name in self_path]
        expect(kinds == list(expected_kinds), "setup program path %s lacks %s"
               % (self_path, expected_kinds))
        left = sorted(self.temp_entries(self.LAUNCHER_NAMES) - before)
        expect(not left, "left in the temporary folder: %s" % left)


def zip_payload(t):
    """The payload tree as a ZIP file (deflated), in the work folder."""
    tree = t.payload_tree()
    payload = os.path.join(t.work, "payload.zip")
    with zipfile.ZipFile(payload, "w", zipfile.ZIP_DEFLATED) as z:
        for folder, _, files in sorted(os.walk(tree)):
            for name in sorted(files):
                path = os.path.join(folder, name)
                z.write(path, os.path.relpath(path, tree).replace(os.sep, "/"))
    return payload


def case_zip_package(t):
    payload = zip_payload(t)
    package = os.path.join(t.work, "package.exe")
    t.append_to_launcher(package, payload)
    t.run_package(package, [])


def case_zip_folders(t):
    """A payload as written on Windows: empty folders (one of them named
    with backslashes) and a file whose name holds a backslash, with no entry
    for its folder before it. The unpacked tree is the archive's."""
    payload = os.path.join(t.work, "payload.zip")
    with zipfile.ZipFile(payload, "w", zipfile.ZIP_DEFLATED) as z:
        z.write(t.c["recorder"], "Tessaro Vantel Installer.exe")
        z.writestr(zipfile.ZipInfo("emptydir/"), b"")
        z.writestr("a\\b.txt", b"b\n")
        z.writestr(zipfile.ZipInfo("d\\e\\"), b"")
    package = os.path.join(t.work, "package.exe")
    t.append_to_launcher(package, payload)
    before = t.temp_entries(t.LAUNCHER_NAMES)
    record = os.path.join(t.work, "record.txt")
    code, _ = t.wine([package], env={"TV_RECORD": win_path(record), "TV_EXIT_CODE": "7",
                                     "TV_LIST": "*"})
    expect(code == 7, "exit code %d, expected the setup program's 7" % code)
    listed = sorted(t.record(record).get("listed", []))
    expected = ["Tessaro Vantel Installer.exe", "a", "a\\b.txt", "d", "d\\e", "emptydir"]
    expect(listed == expected, "unpacked %s, expected %s" % (listed, expected))
    left = sorted(t.temp_entries(t.LAUNCHER_NAMES) - before)
    expect(not left, "left in the temporary folder: %s" % left)


def case_sevenzip_relaunch(t):
    tree = t.payload_tree()
    payload = os.path.join(t.work, "payload.7z")
    subprocess.run([t.c["sevenzip"], "a", "-bd", "-bso0", "-t7z", "-m0=LZMA", "-mx=5", payload, "."],
                   cwd=tree, check=True)
    folder = os.path.join(t.work, "downloads")
    os.makedirs(folder)
    package = os.path.join(folder, "package.exe")
    t.append_to_launcher(package, payload)
    # A library beside the package: the launcher must go on from a private copy.
    with open(os.path.join(folder, "helper.dll"), "wb") as f:
        f.write(b"MZ not really a library")
    t.run_package(package, [])
    expect(sorted(os.listdir(folder)) == ["helper.dll", "package.exe"],
           "the package's folder changed: %s" % os.listdir(folder))


def case_sevenzip_5gb(t):
    """A 7z payload whose one LZMA block holds a 5 GB file (zeros, from a
    sparse file): larger than 4 GiB and than a 32-bit address space, so it
    unpacks only in pieces; its CRC is checked on the way. Long: 7-Zip takes
    about 50 s to pack it, the launcher a few seconds to write it."""
    tree = t.payload_tree()
    with open(os.path.join(tree, "data", "zeros.bin"), "wb") as f:
        f.truncate(5 << 30)
    payload = os.path.join(t.work, "payload.7z")
    # A small dictionary and the fast mode: zeros need no more.
    subprocess.run([t.c["sevenzip"], "a", "-bd", "-bso0", "-t7z",
                    "-m0=LZMA:d=256k:a=0:fb=273:mf=hc4:mc=1", payload, "."], cwd=tree, check=True)
    shutil.rmtree(tree)
    package = os.path.join(t.work, "package.exe")
    t.append_to_launcher(package, payload)
    started = time.monotonic()
    t.run_package(package, [])
    print("the package ran in %.1f s" % (time.monotonic() - started))


def grow_into_signature_table(signed, hidden):
    """`signed` with `hidden` grown into its last signature table entry, the
    entry's length and the directory's size counting it: the signature still
    checks where padding is not checked."""
    b = bytearray(signed)
    optional = struct.unpack_from("<I", b, 0x3C)[0] + 24
    directory = optional + (112 if b[optional + 1] == 2 else 96) + 32
    table, size = struct.unpack_from("<II", b, directory)
    last = at = table
    while at < table + size:
        last = at
        at += (struct.unpack_from("<I", b, at)[0] + 7) & ~7
    entry_end = (struct.unpack_from("<I", b, last)[0] + 7) & ~7
    hidden += b"\0" * (-len(hidden) % 8)
    b = b[:last + entry_end] + hidden
    struct.pack_into("<I", b, last, entry_end + len(hidden))
    struct.pack_into("<I", b, directory + 4, size + len(hidden))
    return bytes(b)


def case_signed_package(t):
    """A signed package runs; a signed bare launcher with a payload grown
    into its signature table is refused before anything is written."""
    payload = zip_payload(t)
    unsigned = os.path.join(t.work, "unsigned.exe")
    t.append_to_launcher(unsigned, payload)
    key, cert = os.path.join(t.work, "key.pem"), os.path.join(t.work, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Shipped tier", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    signed = {}
    for name, source in (("package", unsigned), ("launcher", t.c["launcher"])):
        out = os.path.join(t.work, "signed-%s.exe" % name)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", source,
                        "-out", out], check=True, capture_output=True)
        signed[name] = out
    t.run_package(signed["package"], [])

    injected = os.path.join(t.work, "injected.exe")
    with open(signed["launcher"], "rb") as f, open(payload, "rb") as p:
        grown = grow_into_signature_table(f.read(), p.read())
    with open(injected, "wb") as f:
        f.write(grown)
    before = t.temp_entries(t.LAUNCHER_NAMES)
    record = os.path.join(t.work, "record-injected.txt")
    code, _ = t.wine([injected], env={"TV_RECORD": win_path(record), "TV_EXIT_CODE": "7"})
    expect(code == 5, "injected package: exit code %d, expected 5" % code)
    expect(not os.path.exists(record), "injected package: its setup program ran")
    left = sorted(t.temp_entries(t.LAUNCHER_NAMES) - before)
    expect(not left, "injected package left in the temporary folder: %s" % left)


def launcher_folder_security(user, full_token):
    """The descriptor ("protected|owner|entries", entries "A,flags,mask,SID")
    the launcher gives its folders for a token: owner Administrators, and
    Administrators and SYSTEM alone for an administrator's full token
    (elevated, the Administrators group enabled) or SYSTEM's; else the user,
    Administrators and SYSTEM. Full control, inherited by files and folders."""
    full = "A,3,1f01ff,"
    admins, system = "S-1-5-32-544", "S-1-5-18"
    if full_token or user == system:
        return "1|%s|%s%s;%s%s" % (admins, full, admins, full, system)
    return "1|%s|%s%s;%s%s;%s%s" % (user, full, user, full, admins, full, system)


def wine_shown_security(user):
    """How Wine 8 shows a folder that nobody outside the token may open: it
    keeps only a Unix mode, so every folder is owned by the user, with full
    control for SYSTEM and the user, and Everyone may read it when others may
    (a folder of default security)."""
    return "0|%s|A,3,1f01ff,S-1-5-18;A,3,1f01ff,%s" % (user, user)


def case_folder_security(t):
    """The extraction folder, as its setup program (the recorder at the top of
    the payload) sees it while it runs."""
    payload = os.path.join(t.work, "payload.zip")
    with zipfile.ZipFile(payload, "w", zipfile.ZIP_DEFLATED) as z:
        z.write(t.c["recorder"], "Tessaro Vantel Installer.exe")
    package = os.path.join(t.work, "package.exe")
    t.append_to_launcher(package, payload)
    before = t.temp_entries(t.LAUNCHER_NAMES)
    record = os.path.join(t.work, "record.txt")
    code, _ = t.wine([package], env={"TV_RECORD": win_path(record), "TV_EXIT_CODE": "0"})
    expect(code == 0, "exit code %d" % code)
    r = t.record(record)
    user, elevated, administrator = r["token"][0].split("|")
    folder = r["self"][0].rsplit("\\", 1)[0]
    shown = [line.split("|", 1)[1] for line in r.get("security", [])
             if line.split("|", 1)[0].lower() == folder.lower()]
    expect(len(shown) == 1, "no descriptor of %s in %s" % (folder, r.get("security")))
    # Where the descriptor is kept (a Wine that stores descriptors), all of it
    # must be as given; otherwise what Wine keeps of it: nobody else may open it.
    kept = shown[0].startswith("1|")
    full_token = elevated == "1" and administrator == "1"
    expected = launcher_folder_security(user, full_token) if kept else wine_shown_security(user)
    print("  token %s (elevated %s, Administrators enabled %s), extraction folder %s"
          % (user, elevated, administrator, shown[0]))
    expect(shown[0] == expected, "the extraction folder's descriptor is %s, expected %s" % (shown[0], expected))
    left = sorted(t.temp_entries(t.LAUNCHER_NAMES) - before)
    expect(not left, "left in the temporary folder: %s" % left)


def tovik_folder(t):
    folder = os.path.join(t.work, "app")
    os.makedirs(folder)
    shutil.copy(t.c["tovik"], os.path.join(folder, "tovik.exe"))
    with open(os.path.join(folder, ".launch"), "wb") as f:
        f.write(b"Install app.bin\r\n\r\n")
    with open(os.path.join(folder, "app.bin"), "w") as f:
        f.write("application\n")
    return folder


def case_tovik_version(t):
    code, out = t.wine([t.c["tovik"], "-version"])
    expect(code == 0, "exit code %d" % code)
    expect(out == t.c["version"].encode() + b"\r\n", "printed %r" % out)


def case_tovik_runtime(t):
    folder = tovik_folder(t)
    msi = win_path(t.c["runtime_msi"])
    code, _ = t.wine(["msiexec", "/i", msi, "/qn"])
    expect(code == 0, "msiexec /i ended with %d" % code)
    try:
        record = os.path.join(t.work, "record.txt")
        code, _ = t.wine([os.path.join(folder, "tovik.exe"), "-eulaAccepted", "-location",
                          "C:\\My Apps", "-desktopShortcut"],
                         env={"TV_RECORD": win_path(record), "TV_EXIT_CODE": "3"})
        expect(code == 3, "exit code %d, expected the application installer's 3" % code)
        r = t.record(record)
        expected = ('"Tessaro Vantel Application Installer.exe" -eulaAccepted -location '
                    '"C:\\My Apps" -desktopShortcut "%s"' % win_path(os.path.join(folder, "app.bin")))
        expect(r["cmdline"][0] == expected, "application installer's command line:\n  %s\nexpected\n  %s"
               % (r["cmdline"][0], expected))
        expect(r["self"][0].endswith("\\Versions\\1.0\\Tessaro Vantel Application Installer.exe"),
               "application installer ran as " + r["self"][0])
    finally:
        # The prefix outlives the case: leave it without a runtime.
        t.wine(["msiexec", "/x", msi, "/qn"])


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


def case_tovik_download(t):
    folder = tovik_folder(t)
    with open(t.c["recorder"], "rb") as f:
        installer = f.read()
    with open(t.c["recorder_signature"], "rb") as f:
        signature = f.read()
    with open(os.path.join(t.c["pki"], "inter.crl"), "rb") as f:
        crl = f.read()
    requests = []

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            requests.append(self.path)
            if self.path.endswith("/x86/installer"):
                body = installer
            elif self.path.endswith("/x86/installer.p7"):
                body = signature
            elif self.path == "/crl/inter.crl":
                body = crl
            else:
                self.send_error(404)
                return
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    expect(os.environ.get("DISPLAY"), "no display: run inside xvfb-run")
    with open("/tmp/tv-port80.lock", "w") as lock:
        # Other users of port 80 on this machine hold the lock while they
        # serve; a run wrapped in the lock by hand holds it for the cases.
        until = time.monotonic() + 120
        while True:
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > until:
                    print("  port 80 lock still held after 120 s: going on without it")
                    break
                time.sleep(1)
        try:
            server = Server(("127.0.0.1", 80), Handler)
        except OSError as error:
            raise Failure("cannot serve on 127.0.0.1:80: %s" % error)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        try:
            record = os.path.join(t.work, "record.txt")
            code, _ = t.wine([os.path.join(folder, "tovik.exe"), "-eulaAccepted", "-allowDownload"],
                             env={"TV_RECORD": win_path(record), "TV_EXIT_CODE": "23",
                                  "no_proxy": "127.0.0.1"})
        finally:
            server.shutdown()
            server.server_close()
    print("  requests: %s" % requests)
    expect(any(p.endswith("/x86/installer") for p in requests), "the installer was not fetched")
    expect(any(p.endswith("/x86/installer.p7") for p in requests), "the signature was not fetched")
    expect(code == 23, "exit code %d, expected the runtime installer's 23" % code)
    r = t.record(record)
    cmdline = r["cmdline"][0]
    tail = '" -eulaAccepted "%s"' % win_path(os.path.join(folder, "app.bin"))
    expect(cmdline.startswith('"') and cmdline.endswith(tail)
           and cmdline[:-len(tail)].endswith("\\VantelRuntimeInstaller.exe"),
           "runtime installer's command line: " + cmdline)
    stored = r["self"][0]
    expect(not t.temp_entries(r"^tovik-|^vantelruntimeinstaller\.exe$"),
           "the stored runtime installer %s was left behind" % stored)


def server(t, *args):
    env = dict(os.environ, WINEPREFIX=t.c["prefix"])
    return subprocess.run(["/usr/lib/wine/wineserver", *args], env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def prefix_start(t):
    """The tier's prefix, made once, with nothing but what the cases need
    (every Windows process may cost 50 s): no dialog fonts, no window
    settings; then a persistent server."""
    ready = os.path.join(t.c["prefix"], ".tv-ready")
    if not os.path.exists(ready):
        shutil.rmtree(t.c["prefix"], ignore_errors=True)
        t.wine(["wineboot", "-i"], timeout=1700)
        server(t, "-w")
        expect(os.path.exists(os.path.join(t.c["prefix"], "system.reg")), "wineboot made no prefix")
        open(ready, "w").close()
    server(t, "-p")


CASES = {
    "prefix_start": prefix_start,
    "prefix_stop": lambda t: server(t, "-k"),
    "zip_package": case_zip_package,
    "zip_folders": case_zip_folders,
    "sevenzip_relaunch": case_sevenzip_relaunch,
    "sevenzip_5gb": case_sevenzip_5gb,
    "signed_package": case_signed_package,
    "folder_security": case_folder_security,
    "tovik_version": case_tovik_version,
    "tovik_runtime": case_tovik_runtime,
    "tovik_download": case_tovik_download,
}
CASE_NAME = ""


def main():
    global CASE_NAME
    with open(sys.argv[1]) as f:
        config = json.load(f)
    CASE_NAME = sys.argv[2]
    t = Tier(config)
    mode = t.mode()
    if mode == "none":
        print("32-bit Wine does not run here: skipped")
        return SKIP
    started = time.monotonic()
    print("%s on the i686 images, 32-bit Wine %s" % (CASE_NAME, mode))
    try:
        CASES[CASE_NAME](t)
    except Failure as failure:
        print("FAILED: %s" % failure)
        return 1
    print("passed in %.1f s (%s)" % (time.monotonic() - started, mode))
    return 0


if __name__ == "__main__":
    sys.exit(main())
