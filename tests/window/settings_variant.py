#!/usr/bin/env python3
"""A copy of the shipped settings folder with product settings added or
replaced, for a test build of the installer that carries other settings.

usage: settings_variant.py SETTINGS_DIR OUT_DIR KEY=VALUE ...
The values go into the section PRODUCT of productInfo.ini (UTF-16LE with
byte-order mark, CR LF), as the shipped file is written.
"""
import shutil
import sys
from pathlib import Path

src, out = Path(sys.argv[1]), Path(sys.argv[2])
pairs = dict(arg.split("=", 1) for arg in sys.argv[3:])
if out.exists():
    shutil.rmtree(out)
shutil.copytree(src, out)
info = out / "productInfo.ini"
lines = [line for line in info.read_bytes().decode("utf-16").splitlines()
         if line.partition("=")[0] not in pairs]
lines += [f"{key}={value}" for key, value in pairs.items()]
info.write_bytes(b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16le"))
