#!/usr/bin/env python3
"""Authenticode signing of the build's Windows programs with osslsigncode.

  codesign.py sign --cert CERT --key KEY FILE
      signs FILE in place. CERT is a PEM certificate (the signer first, then
      any intermediates) and KEY its PEM private key; for an encrypted key the
      pass phrase comes from the environment variable ZV_SIGN_PASSWORD.
  codesign.py demo-installer --certs DIR FILE OUTDIR
      signs the demo product installer FILE in place with the test vendor's
      certificate of DIR (tests/peers/peers.py makes them) and writes next to
      it, into OUTDIR, the refused variants the tests serve instead:
        demo-installer-unsigned.exe      the same program without a signature
        demo-installer-wrong-signer.exe  signed by another publisher of the same CA
        demo-installer-tampered.exe      signed, then one byte changed (same size)
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
from pathlib import Path

OSSLSIGNCODE = os.environ.get("ZV_OSSLSIGNCODE", "osslsigncode")


def run(args, pass_fds=()):
    res = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, pass_fds=pass_fds)
    return res.returncode, res.stdout


def sign(src, dst, cert, key):
    """Writes dst: src signed with cert and key (SHA-256)."""
    tmp = Path(str(dst) + ".signing")
    tmp.unlink(missing_ok=True)
    args = [OSSLSIGNCODE, "sign", "-certs", str(cert), "-key", str(key), "-h", "sha256",
            "-n", Path(dst).stem, "-in", str(src), "-out", str(tmp)]
    fds = ()
    password = os.environ.get("ZV_SIGN_PASSWORD")
    if password is not None:
        # Through a pipe, never on the command line.
        r, w = os.pipe()
        os.write(w, password.encode() + b"\n")
        os.close(w)
        args[2:2] = ["-readpass", f"/dev/fd/{r}"]
        fds = (r,)
    rc, out = run(args, fds)
    for fd in fds:
        os.close(fd)
    if rc != 0:
        tmp.unlink(missing_ok=True)
        raise SystemExit(f"codesign: signing {src} failed:\n{out}")
    os.replace(tmp, dst)


def verify(path, ca):
    return run([OSSLSIGNCODE, "verify", "-CAfile", str(ca), "-in", str(path)])


def hashed_byte_offset(data):
    """An offset inside the image hash: the middle of the resource section
    (the last section with data when there is none). Changing a byte there
    leaves the program runnable, so only a signature check can refuse it."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("codesign: not a PE image")
    sections, optional = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional
    chosen = None
    for i in range(sections):
        entry = table + 40 * i
        name = data[entry:entry + 8].rstrip(b"\0")
        raw_size, raw_at = struct.unpack_from("<II", data, entry + 16)
        if raw_size:
            chosen = (raw_at, raw_size)
            if name == b".rsrc":
                break
    if not chosen:
        raise SystemExit("codesign: no section with data")
    return chosen[0] + chosen[1] // 2


def demo_installer(certs, file, outdir):
    certs, file, outdir = Path(certs), Path(file), Path(outdir)
    outdir.mkdir(parents=True, exist_ok=True)
    vendor = (certs / "codesign-vendor.pem", certs / "codesign-vendor.key")
    other = (certs / "codesign-other.pem", certs / "codesign-other.key")
    shutil.copyfile(file, outdir / "demo-installer-unsigned.exe")
    sign(file, outdir / "demo-installer-wrong-signer.exe", *other)
    sign(file, file, *vendor)
    data = bytearray(file.read_bytes())
    at = hashed_byte_offset(data)
    data[at] ^= 0x5A
    tampered = outdir / "demo-installer-tampered.exe"
    tampered.write_bytes(data)
    # The variants are what their names say, or the build stops here.
    ca = certs / "codesign-ca.pem"
    rc, out = verify(file, ca)
    if rc != 0:
        raise SystemExit(f"codesign: the signed demo installer does not verify:\n{out}")
    rc, out = verify(tampered, ca)
    if rc == 0:
        raise SystemExit("codesign: the tampered demo installer still verifies")
    print(f"codesign: {file.name} signed; variants in {outdir} (tampered byte at {at})")


def main():
    ap = argparse.ArgumentParser()
    sub = ap.add_subparsers(dest="action", required=True)
    s = sub.add_parser("sign")
    s.add_argument("--cert", required=True)
    s.add_argument("--key", required=True)
    s.add_argument("file")
    d = sub.add_parser("demo-installer")
    d.add_argument("--certs", required=True)
    d.add_argument("file")
    d.add_argument("outdir")
    a = ap.parse_args()
    if a.action == "sign":
        sign(a.file, a.file, a.cert, a.key)
        print(f"codesign: {Path(a.file).name} signed with {a.cert}")
    else:
        demo_installer(a.certs, a.file, a.outdir)
    return 0


if __name__ == "__main__":
    sys.exit(main())
