#!/usr/bin/env python3
"""Packs a folder into a ZIP archive, byte for byte the same on every run.

Entries are sorted by name, every folder gets its own entry ("img/") ahead
of the files inside it, names use "/" as separator, all timestamps are the
fixed date below, and file entries are deflated (stored when deflating does
not make them smaller, as for most PNG files). Hidden files are left out.
Usage: pack_archive.py <source-folder> <output.zip>
"""
import os
import sys
import zipfile
import zlib

FIXED_TIME = (2026, 1, 1, 0, 0, 0)


def collect(root):
    entries = []
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if not d.startswith("."))
        rel = os.path.relpath(folder, root).replace(os.sep, "/")
        if rel != ".":
            entries.append((rel + "/", None))
        for f in sorted(files):
            if not f.startswith("."):
                path = os.path.join(folder, f)
                name = f if rel == "." else rel + "/" + f
                entries.append((name, path))
    # A folder name sorts right before the names inside it ("img/" < "img/a").
    return sorted(entries, key=lambda e: e[0])


def deflated_size(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return len(c.compress(data) + c.flush())


def pack(root, out):
    tmp = out + ".tmp"
    with zipfile.ZipFile(tmp, "w") as z:
        for name, path in collect(root):
            info = zipfile.ZipInfo(name, FIXED_TIME)
            info.create_system = 0
            if path is None:
                info.external_attr = 0x10  # MS-DOS folder attribute
                z.writestr(info, b"", zipfile.ZIP_STORED)
                continue
            with open(path, "rb") as f:
                data = f.read()
            info.external_attr = 0x20  # MS-DOS archive attribute
            method = zipfile.ZIP_DEFLATED if deflated_size(data) < len(data) else zipfile.ZIP_STORED
            z.writestr(info, data, method, compresslevel=9)
    os.replace(tmp, out)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    os.makedirs(os.path.dirname(os.path.abspath(sys.argv[2])), exist_ok=True)
    pack(sys.argv[1], sys.argv[2])


if __name__ == "__main__":
    main()
