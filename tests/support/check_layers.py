#!/usr/bin/env python3
"""Which folder may include which. Each product is a stack of folders, and an
include may only point to the same folder or one below it:

  bootstrap:    app -> ui -> download -> core, each layer (but app) in two
                folders: portable/ (built natively too) and win/ above it
  launcher:     win -> core
  tools/tvpack: commands -> runtime -> writers -> check -> platform -> rules

A portable folder (launcher/core and bootstrap's */portable) includes no
<windows.h> and nothing of a folder that needs Windows.

tools/tvpack and fuzz/ see the launcher's portable core only, never its
Win32 shell. tvpack sees nothing of the bootstrapper but the one header that
holds the runtime signer's rules (bootstrap/core/portable/signer_rules.h), which its
check-runtime applies as tovik does. Every source of tvpack lies in one of
its parts, and a part's library links only the parts below it. The
bootstrapper's build links its layers in order (no link group scanned until
it resolves) and gives no folder another's include path.

usage: check_layers.py <source tree>      report every upward include; exit 1 if any
       check_layers.py --self-test        the check must catch planted faults
"""
import os
import re
import shutil
import sys
import tempfile

# Each stack, lowest folder first.
STACKS = {
    "bootstrap": ["core/portable", "core/win", "download/portable", "download/win", "ui/portable",
                  "ui/win", "app"],
    "launcher": ["core", "win"],
    "tools/tvpack": ["rules", "platform", "check", "writers", "runtime", "commands"],
}
# The stack whose parts are libraries named <prefix><part>, and the prefix.
LIBRARY_PREFIX = {"tools/tvpack": "tvpack_"}
# Folders that build natively: no platform header, nothing from a folder that
# needs Windows.
PORTABLE = ["launcher/core", "bootstrap/core/portable", "bootstrap/download/portable",
            "bootstrap/ui/portable"]
# Consumers outside the stacks and the folders they must not reach.
CONSUMERS = {
    "tools/tvpack": ["launcher/win", "bootstrap/app", "bootstrap/ui", "bootstrap/download",
                     "bootstrap/core"],
    "fuzz": ["launcher/win"],
}
# The only headers of a banned folder that a consumer may include.
ALLOWED = {
    "tools/tvpack": ["bootstrap/core/portable/signer_rules.h"],
}
SOURCES = (".cc", ".c", ".h", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def sources(folder):
    for top, _, names in os.walk(folder):
        for name in sorted(names):
            if name.endswith(SOURCES):
                yield os.path.join(top, name)


def headers_of(root, folder):
    """Relative header paths of one folder (and its subfolders)."""
    base = os.path.join(root, folder)
    found = set()
    for path in sources(base):
        found.add(os.path.relpath(path, base).replace(os.sep, "/"))
    return found


def owner(root, including, name, folders):
    """The folder (of `folders`) that holds the header `name` as included from
    `including`: the including file's own folder first, then the others."""
    here = os.path.dirname(including)
    if os.path.isfile(os.path.join(here, name)):
        rel = os.path.relpath(os.path.normpath(os.path.join(here, name)), root).replace(os.sep, "/")
        for folder in folders:
            if rel.startswith(folder + "/"):
                return folder
        return None
    for folder in folders:
        # "launcher/core/x.h", "core/x.h" or a bare "x.h".
        for prefix in ("", os.path.dirname(folder) + "/", folder + "/"):
            if prefix and name.startswith(prefix) and name[len(prefix):] in headers_of(root, folder):
                return folder
        if name in headers_of(root, folder):
            return folder
    return None


def check(root):
    problems = []
    for stack, layers in STACKS.items():
        folders = ["%s/%s" % (stack, layer) for layer in layers]
        present = [f for f in folders if os.path.isdir(os.path.join(root, f))]
        if len(present) < 2:
            continue
        for rank, folder in enumerate(folders):
            if folder not in present:
                continue
            for path in sources(os.path.join(root, folder)):
                text = open(path, encoding="utf-8", errors="replace").read()
                rel = os.path.relpath(path, root)
                for kind, name in INCLUDE.findall(text):
                    if folder in PORTABLE and kind == "<" and name.lower() == "windows.h":
                        problems.append("%s includes <windows.h>, but %s is portable" % (rel, folder))
                    if kind != '"':
                        continue
                    target = owner(root, path, name, present)
                    if target is not None and folders.index(target) > rank:
                        problems.append("%s includes \"%s\" of %s, a layer above %s" % (rel, name, target, folder))
                    elif target is not None and folder in PORTABLE and target not in PORTABLE:
                        problems.append("%s includes \"%s\" of %s, which needs Windows, but %s is portable"
                                        % (rel, name, target, folder))
    for consumer, banned in CONSUMERS.items():
        banned = [b for b in banned if os.path.isdir(os.path.join(root, b))]
        if not banned or not os.path.isdir(os.path.join(root, consumer)):
            continue
        own = [consumer]
        for path in sources(os.path.join(root, consumer)):
            text = open(path, encoding="utf-8", errors="replace").read()
            for kind, name in INCLUDE.findall(text):
                if kind != '"' or owner(root, path, name, own) is not None:
                    continue
                target = owner(root, path, name, banned)
                allowed = [a for a in ALLOWED.get(consumer, [])
                           if target is not None and a.startswith(target + "/")
                           and os.path.basename(a) == os.path.basename(name)]
                if target is not None and not allowed:
                    problems.append("%s includes \"%s\" of %s, which it may not see"
                                    % (os.path.relpath(path, root), name, target))
    problems += check_parts(root)
    build = os.path.join(root, "bootstrap")
    for top, _, names in os.walk(build):
        if "CMakeLists.txt" not in names:
            continue
        path = os.path.join(top, "CMakeLists.txt")
        text = open(path, encoding="utf-8").read()
        rel = os.path.relpath(path, root)
        if "LINK_GROUP" in text:
            problems.append("%s links a group: the layers link in order" % rel)
        for call in re.findall(r"target_include_directories\s*\(([^)]*)\)", text):
            if re.search(r"CMAKE_SOURCE_DIR\}/bootstrap|\.\./|PRIVATE\s+(core|download|ui|app)\b", call):
                problems.append("%s gives a folder another's include path: %s" % (rel, " ".join(call.split())))
    return problems


def check_parts(root):
    """A stack whose folders are libraries: no source outside its parts, and
    each part's library links no part above it."""
    problems = []
    for stack, prefix in LIBRARY_PREFIX.items():
        base = os.path.join(root, stack)
        if not os.path.isdir(base):
            continue
        layers = STACKS[stack]
        for name in sorted(os.listdir(base)):
            if name.endswith(SOURCES):
                problems.append("%s/%s lies outside the parts of %s" % (stack, name, stack))
        for rank, layer in enumerate(layers):
            path = os.path.join(base, layer, "CMakeLists.txt")
            if not os.path.isfile(path):
                continue
            text = open(path, encoding="utf-8").read()
            for call in re.findall(r"target_link_libraries\s*\(\s*%s%s\b([^)]*)\)" % (prefix, layer), text):
                for other in re.findall(r"\b%s(\w+)" % prefix, call):
                    if other in layers and layers.index(other) > rank:
                        problems.append("%s/%s/CMakeLists.txt links %s%s, a part above %s"
                                        % (stack, layer, prefix, other, layer))
    return problems


def plant(root, relative, text):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write(text)


def self_test():
    """A small tree in both layouts of includes (bare and folder-qualified),
    clean and then with one fault at a time."""
    clean = {
        "bootstrap/core/portable/log_format.h": "#include <stdint.h>\n",
        "bootstrap/core/win/log.h": '#include "log_format.h"\n',
        "bootstrap/download/portable/sha256.h": '#include "log_format.h"\n',
        "bootstrap/download/win/download_helper.h": '#include "log.h"\n#include "stored_installer.h"\n',
        "bootstrap/download/win/stored_installer.h": "#include <windows.h>\n",
        "bootstrap/ui/win/install_context.h": '#include "stored_installer.h"\n#include "sha256.h"\n',
        "bootstrap/app/bootstrapper.cc": '#include "install_context.h"\n#include "log.h"\n',
        "bootstrap/app/CMakeLists.txt": "target_link_libraries(tovik PRIVATE tovik_ui tovik_core)\n",
        "launcher/core/payload_scan.h": "#include <stdint.h>\n",
        "launcher/win/flow.cc": '#include <windows.h>\n#include "core/payload_scan.h"\n#include "setup.h"\n',
        "launcher/win/setup.h": "#pragma once\n",
        "bootstrap/core/portable/signer_rules.h": "#pragma once\n",
        "tools/tvpack/rules/pack.cc": '#include "launcher/core/payload_scan.h"\n#include "pack.h"\n',
        "tools/tvpack/rules/pack.h": "#pragma once\n",
        "tools/tvpack/rules/CMakeLists.txt": "target_link_libraries(tvpack_rules PUBLIC launcher_core)\n",
        "tools/tvpack/writers/zip.h": '#include "pack.h"\n',
        "tools/tvpack/writers/CMakeLists.txt": "target_link_libraries(tvpack_writers PUBLIC tvpack_rules)\n",
        "tools/tvpack/runtime/sign.cc": '#include "bootstrap/core/portable/signer_rules.h"\n',
        "tools/tvpack/commands/main.cc": '#include "zip.h"\n',
    }
    faults = [
        ("download includes the UI", "bootstrap/download/win/download_helper.h",
         '#include "install_context.h"\n', "a layer above bootstrap/download"),
        ("core includes the entry", "bootstrap/core/win/log.cc", '#include "../../app/bootstrapper.cc"\n',
         "a layer above bootstrap/core"),
        ("portable download includes the core's platform part", "bootstrap/download/portable/sha256.cc",
         '#include "log.h"\n', "which needs Windows"),
        ("portable UI includes windows.h", "bootstrap/ui/portable/link_markup.cc", "#include <windows.h>\n",
         "includes <windows.h>"),
        ("launcher core includes the shell", "launcher/core/scan.cc", '#include "setup.h"\n',
         "a layer above launcher/core"),
        ("launcher core includes windows.h", "launcher/core/scan.cc", "#include <Windows.h>\n",
         "includes <windows.h>"),
        ("tvpack sees the shell", "tools/tvpack/rules/pack2.cc", '#include "launcher/win/setup.h"\n',
         "which it may not see"),
        ("tvpack sees more of the bootstrapper", "tools/tvpack/runtime/sign2.cc",
         '#include "bootstrap/core/win/log.h"\n', "which it may not see"),
        ("tvpack rules include a writer", "tools/tvpack/rules/pack3.cc", '#include "zip.h"\n',
         "a layer above tools/tvpack/rules"),
        ("tvpack part links up", "tools/tvpack/rules/CMakeLists.txt",
         "target_link_libraries(tvpack_rules PUBLIC tvpack_writers)\n", "a part above rules"),
        ("tvpack source outside the parts", "tools/tvpack/loose.cc", '#include "pack.h"\n',
         "lies outside the parts"),
        ("link group", "bootstrap/app/CMakeLists.txt",
         "target_link_libraries(tovik PRIVATE \"$<LINK_GROUP:RESCAN,a,b>\")\n", "links a group"),
        ("cross-folder include path", "bootstrap/core/CMakeLists.txt",
         "target_include_directories(tovik_core PRIVATE ui)\n", "another's include path"),
    ]
    failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        tree = os.path.join(scratch, "clean")
        for relative, text in clean.items():
            plant(tree, relative, text)
        problems = check(tree)
        if problems:
            print("FAIL clean tree reported:\n  " + "\n  ".join(problems))
            failures += 1
        else:
            print("ok   clean tree passes")
        for name, relative, text, expected in faults:
            faulty = os.path.join(scratch, "faulty")
            shutil.rmtree(faulty, ignore_errors=True)
            shutil.copytree(tree, faulty)
            plant(faulty, relative, text)
            problems = check(faulty)
            if any(expected in p for p in problems):
                print("ok   %s: %s" % (name, problems[0]))
            else:
                print("FAIL %s: reported %r" % (name, problems))
                failures += 1
    return 1 if failures else 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    problems = check(sys.argv[1])
    for p in problems:
        print(p)
    if not problems:
        print("includes point down in every stack")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
