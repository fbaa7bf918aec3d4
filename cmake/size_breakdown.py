#!/usr/bin/env python3
"""Prints an executable's size and what it is made of, per library, from the
GNU ld link map (-Wl,-Map): the bytes of every input section that went into
a loaded section of the file, summed by the archive or object it came from.
Code of our own libraries that link-time optimisation merged shows as
"our code (LTO)". The rest of the file (headers, import tables, relocations,
alignment) is the last line.

  size_breakdown.py EXE MAP
"""

import re
import sys
from collections import defaultdict
from pathlib import Path

# Output sections that take room in the file (.bss does not; debug info is stripped).
LOADED = {".text", ".data", ".rdata", ".pdata", ".xdata", ".rsrc", ".CRT", ".tls", ".idata", ".reloc"}
# One input section: " NAME  0xADDR  0xSIZE  FILE" (NAME may stand on the line before).
ROW = re.compile(r"^\s+(\S+)?\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(\S.*)$")


def group(origin):
    """The library an input file belongs to."""
    archive = re.match(r"(.*?)\(([^)]*)\)$", origin)
    path = archive.group(1) if archive else origin
    name = Path(path).name
    if ".ltrans" in name:
        return "our code (LTO)"
    if name.startswith("libzv_") or name.endswith(".cpp.obj") or name.endswith(".rc.obj") or "CMakeFiles" in path:
        return "our code"
    if name in ("libcrypto.a", "libssl.a"):
        return "OpenSSL " + name
    if name.startswith("libstdc++") or name.startswith("libsupc++"):
        return "libstdc++"
    if name.startswith("libgcc") or name.startswith("libwinpthread"):
        return "libgcc, winpthread"
    if name == "libz.a":
        return "zlib"
    if name.startswith("lib") and name.endswith(".a"):
        return "mingw runtime and import libraries"
    return "mingw runtime and import libraries" if name.endswith(".o") else "other: " + name


def breakdown(map_path):
    sizes = defaultdict(int)
    section = None
    in_memory_map = False
    for line in Path(map_path).read_text(errors="replace").splitlines():
        if not in_memory_map:
            in_memory_map = line.startswith("Linker script and memory map")
            continue
        top = re.match(r"^(\.[A-Za-z_$.]+)\s+0x[0-9a-fA-F]+", line) or re.match(r"^(\.[A-Za-z_$.]+)\s*$", line)
        if top:
            section = top.group(1)
            continue
        if section not in LOADED:
            continue
        m = ROW.match(line)
        if m:
            size = int(m.group(3), 16)
            origin = m.group(4).strip()
            if not size or origin.startswith("*"):
                pass
            elif section == ".rsrc":
                sizes["resources (skin, settings, icon)"] += size
            elif section == ".idata" or not ("/" in origin or origin.endswith((".o", ".obj", ".a)"))):
                sizes["import tables, relocations"] += size
            else:
                sizes[group(origin)] += size
    return sizes


def main():
    exe, map_path = sys.argv[1], sys.argv[2]
    total = Path(exe).stat().st_size
    sizes = breakdown(map_path)
    print(f"{Path(exe).name}: {total} bytes ({total // 1024} KiB)")
    for name, size in sorted(sizes.items(), key=lambda kv: -kv[1]):
        print(f"  {name:<40}{size / 1024:>9.0f} KiB")
    rest = total - sum(sizes.values())
    print(f"  {'headers, alignment and the rest':<40}{rest / 1024:>9.0f} KiB")


if __name__ == "__main__":
    main()
