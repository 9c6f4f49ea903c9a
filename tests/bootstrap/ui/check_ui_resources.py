#!/usr/bin/env python3
"""Checks the bootstrapper's compiled resources (.res) against the dialog
templates and strings the program relies on: every style, size, id, font,
class, text and the tab order, byte for byte as the dialog manager reads
them. Usage: check_ui_resources.py file.res"""
import struct
import sys


def read_sz_or_ord(data, pos):
    (first,) = struct.unpack_from("<H", data, pos)
    if first == 0xFFFF:
        (value,) = struct.unpack_from("<H", data, pos + 2)
        return value, pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def align4(pos):
    return (pos + 3) & ~3


def read_res(path):
    data = open(path, "rb").read()
    pos = 0
    entries = {}
    while pos < len(data):
        data_size, header_size = struct.unpack_from("<II", data, pos)
        rtype, p = read_sz_or_ord(data, pos + 8)
        name, p = read_sz_or_ord(data, p)
        p = align4(p)
        _dv, _flags, lang = struct.unpack_from("<IHH", data, p)
        body = data[pos + header_size:pos + header_size + data_size]
        entries[(rtype, name, lang)] = body
        pos = align4(pos + header_size + data_size)
    return entries


def parse_dialog(body):
    ver, sig, helpid, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", body, 0)
    assert (ver, sig) == (1, 0xFFFF), "not an extended template"
    pos = 26
    menu, pos = read_sz_or_ord(body, pos)
    klass, pos = read_sz_or_ord(body, pos)
    title, pos = read_sz_or_ord(body, pos)
    points, weight, italic, charset = struct.unpack_from("<HHBB", body, pos)
    face, pos = read_sz_or_ord(body, pos + 6)
    dialog = dict(helpid=helpid, exstyle=exstyle, style=style, rect=(x, y, cx, cy), menu=menu,
                  klass=klass, title=title, font=(points, face, weight, italic, charset))
    items = []
    for _ in range(count):
        pos = align4(pos)
        ihelp, iex, istyle, ix, iy, icx, icy, iid = struct.unpack_from("<IIIhhhhI", body, pos)
        iklass, pos = read_sz_or_ord(body, pos + 24)
        ititle, pos = read_sz_or_ord(body, pos)
        (extra,) = struct.unpack_from("<H", body, pos)
        pos += 2 + extra
        items.append(dict(id=iid, klass=iklass, text=ititle, rect=(ix, iy, icx, icy), style=istyle,
                          exstyle=iex, helpid=ihelp, extra=extra))
    return dialog, items


def item(id_, klass, text, rect, style, exstyle=0):
    return dict(id=id_, klass=klass, text=text, rect=rect, style=style, exstyle=exstyle, helpid=0, extra=0)


EXPECTED = {
    101: (dict(helpid=0, exstyle=0, style=0x80C800C8, rect=(0, 0, 300, 70), menu="", klass="",
               title="Tessaro Vantel Installer", font=(8, "MS Shell Dlg", 400, 0, 0)),
          [item(1003, "msctls_progress32", "", (10, 25, 280, 15), 0x50800000),
           item(1002, 0x0082, "", (10, 10, 280, 10), 0x50020000),
           item(1001, 0x0080, "Cancel", (215, 45, 75, 15), 0x50010F01)]),
    104: (dict(helpid=0, exstyle=0, style=0x80C800C8, rect=(0, 0, 220, 74), menu="", klass="",
               title="Tessaro Vantel Installer", font=(8, "MS Shell Dlg", 400, 0, 1)),
          [item(1, 0x0080, "OK", (163, 53, 50, 14), 0x50010001),
           item(1004, "RichEdit20W", "", (7, 7, 206, 39), 0x50010804, 0x00020000)]),
}

STRINGS = {
    102: "Tessaro Vantel Native Installer",
    103: "Connecting...",
    104: "%1!2d! %% complete (%2!d! of %3!d! K)",
    105: "Unable to download Tessaro Vantel Runtime",
}


def main():
    entries = read_res(sys.argv[1])
    failures = []
    for dialog_id, (want_dialog, want_items) in EXPECTED.items():
        body = entries.get((5, dialog_id, 1033))
        if body is None:
            failures.append(f"dialog {dialog_id} (language 1033) missing")
            continue
        got_dialog, got_items = parse_dialog(body)
        if got_dialog != want_dialog:
            failures.append(f"dialog {dialog_id}: {got_dialog} != {want_dialog}")
        if got_items != want_items:
            failures.append(f"dialog {dialog_id} controls: {got_items} != {want_items}")
    for string_id, text in STRINGS.items():
        body = entries.get((6, (string_id >> 4) + 1, 1033))
        if body is None:
            failures.append(f"string block of {string_id} missing")
            continue
        pos = 0
        for index in range(16):
            (length,) = struct.unpack_from("<H", body, pos)
            value = body[pos + 2:pos + 2 + 2 * length].decode("utf-16-le")
            pos += 2 + 2 * length
            if index == (string_id & 15) and value != text:
                failures.append(f"string {string_id}: {value!r} != {text!r}")
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print("resources OK")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
