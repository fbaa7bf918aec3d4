#!/usr/bin/env python3
"""Download benchmark: the engine against aria2c and curl, in one run.

Starts nginx on 127.0.0.1 serving one file (512 MiB by default) and
downloads it with
  - the engine, 8 connections (bench program zv_bench_download),
  - aria2c -x8 -s8,
  - curl, one connection,
(a) straight from nginx and (b) through zv_throttle_relay, which caps every
connection at --cap MB/s. Each download is checked by SHA-256. Prints MB/s
(10^6 bytes per second of wall time, process start included), CPU seconds
(user + sys), peak RSS, the ratios engine/aria2c and engine/curl, and for (b)
the physical limit 8 x cap.

  bench/download_bench.py --build build/linux [--size-mib 512] [--cap 20]
"""

import argparse
import hashlib
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HOST = "127.0.0.1"


def log(msg):
    print(msg, flush=True)


def port_free(port):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        s.bind((HOST, port))
        return True
    except OSError:
        return False
    finally:
        s.close()


def pick_ports(base=18060):
    for k in range(10):
        ports = (base + 100 * k, base + 100 * k + 1)
        if all(port_free(p) for p in ports):
            return ports
    raise SystemExit("no free ports for the benchmark")


def wait_listening(port, proc, seconds=5):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if proc.poll() is not None:
            raise SystemExit(f"server on {port} exited early")
        try:
            with socket.create_connection((HOST, port), timeout=0.2):
                return
        except OSError:
            time.sleep(0.05)
    raise SystemExit(f"nothing listens on {port}")


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            block = f.read(4 << 20)
            if not block:
                return h.hexdigest()
            h.update(block)


def make_source(path, size):
    if path.exists() and path.stat().st_size == size:
        return
    log(f"making {size // (1 << 20)} MiB test file")
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, 4 << 20)
            f.write(os.urandom(n))
            left -= n


def start_nginx(work, www, port):
    run = work / "nginx"
    run.mkdir(exist_ok=True)
    for d in ["body", "proxy", "fastcgi", "uwsgi", "scgi"]:
        (run / d).mkdir(exist_ok=True)
    conf = run / "nginx.conf"
    conf.write_text(f"""daemon off;
master_process off;
worker_processes 1;
pid {run}/nginx.pid;
error_log {run}/error.log warn;
events {{ worker_connections 256; }}
http {{
  access_log off;
  client_body_temp_path {run}/body;
  proxy_temp_path {run}/proxy;
  fastcgi_temp_path {run}/fastcgi;
  uwsgi_temp_path {run}/uwsgi;
  scgi_temp_path {run}/scgi;
  default_type application/octet-stream;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 60s;
  keepalive_requests 100000;
  server {{
    listen {HOST}:{port};
    root {www};
  }}
}}
""")
    proc = subprocess.Popen(["nginx", "-p", str(run), "-c", str(conf)], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, start_new_session=True)
    wait_listening(port, proc)
    return proc


def timed(cmd):
    """Runs cmd under GNU time: (ok, wall s, cpu s, peak RSS MiB, output)."""
    fmt = "ZVTIME %e %U %S %M"
    res = subprocess.run(["/usr/bin/time", "-f", fmt, *cmd], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         text=True, timeout=900)
    line = [l for l in res.stdout.splitlines() if l.startswith("ZVTIME ")][-1].split()
    wall, user, sys_, rss = float(line[1]), float(line[2]), float(line[3]), int(line[4])
    return res.returncode == 0, wall, user + sys_, rss / 1024.0, res.stdout


def run_tool(tool, url, out, engine_bin, connections):
    if out.exists():
        out.unlink()
    if tool == "engine":
        cmd = [str(engine_bin), url, str(out), str(connections)]
    elif tool == "aria2c":
        cmd = ["aria2c", "-x8", "-s8", "--file-allocation=none", "--allow-overwrite=true",
               "--auto-file-renaming=false", "--console-log-level=warn", "--summary-interval=0",
               "--download-result=hide", "-d", str(out.parent), "-o", out.name, url]
    else:
        cmd = ["curl", "-s", "-S", "-o", str(out), url]
    return timed(cmd)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", required=True, help="build tree with bench/zv_bench_download")
    ap.add_argument("--size-mib", type=int, default=512)
    ap.add_argument("--cap", type=float, default=20.0, help="per-connection cap for (b), MB/s")
    ap.add_argument("--work", help="working folder (default <build>/bench-work)")
    ap.add_argument("--keep", action="store_true", help="keep the source file for the next run")
    a = ap.parse_args()

    build = Path(a.build).resolve()
    engine_bin = build / "bench" / "zv_bench_download"
    relay_bin = build / "bench" / "zv_throttle_relay"
    for b in (engine_bin, relay_bin):
        if not b.exists():
            raise SystemExit(f"{b} missing: ninja -C {build} zv_bench_download zv_throttle_relay")
    for tool in ("nginx", "aria2c", "curl", "/usr/bin/time"):
        if not shutil.which(tool):
            raise SystemExit(f"{tool} not found")

    work = Path(a.work).resolve() if a.work else build / "bench-work"
    www = work / "www"
    www.mkdir(parents=True, exist_ok=True)
    size = a.size_mib << 20
    source = www / "big.bin"
    make_source(source, size)
    want = sha256_file(source)
    out_dir = work / "out"
    out_dir.mkdir(exist_ok=True)

    nginx_port, relay_port = pick_ports()
    cap = a.cap * 1e6
    procs = []
    try:
        procs.append(start_nginx(work, www, nginx_port))
        relay = subprocess.Popen([str(relay_bin), str(relay_port), str(nginx_port), str(cap)],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT,
                                 start_new_session=True)
        procs.append(relay)
        wait_listening(relay_port, relay)
        # Warm the page cache so the first tool is not charged for disk reads.
        subprocess.run(["cat", str(source)], stdout=subprocess.DEVNULL)

        cases = [("a", "unthrottled", nginx_port), ("b", f"{a.cap:g} MB/s per connection", relay_port)]
        load_before = os.getloadavg()
        results = {}
        engine_lines = {}
        for key, title, port in cases:
            url = f"http://{HOST}:{port}/big.bin"
            for tool in ("engine", "aria2c", "curl"):
                out = out_dir / f"{tool}.bin"
                ok, wall, cpu, rss, text = run_tool(tool, url, out, engine_bin, 8)
                good = ok and out.exists() and out.stat().st_size == size and sha256_file(out) == want
                if not good:
                    log(f"{tool} ({key}) failed:\n{text[-2000:]}")
                results[(key, tool)] = (good, size / wall / 1e6, cpu, rss)
                if tool == "engine":
                    engine_lines[key] = next((l for l in text.splitlines() if l.startswith("bytes=")), "")
                if out.exists():
                    out.unlink()

        log("")
        log(f"file {a.size_mib} MiB over loopback; nginx 1 worker; {os.cpu_count()} cores shared by server and client")
        # Other work on the machine takes cores from the tools: the load shows how much.
        log("load average before {:.2f} {:.2f} {:.2f}, after {:.2f} {:.2f} {:.2f}".format(*load_before, *os.getloadavg()))
        for key, title, _ in cases:
            log(f"\n({key}) {title}")
            log(f"  {'tool':<22}{'MB/s':>9}{'CPU s':>9}{'peak RSS MiB':>15}  sha256")
            names = {"engine": "engine (8 conn)", "aria2c": "aria2c -x8 -s8", "curl": "curl (1 conn)"}
            for tool in ("engine", "aria2c", "curl"):
                good, mbs, cpu, rss = results[(key, tool)]
                log(f"  {names[tool]:<22}{mbs:>9.1f}{cpu:>9.2f}{rss:>15.1f}  {'ok' if good else 'FAILED'}")
            e, r, c = (results[(key, t)] for t in ("engine", "aria2c", "curl"))
            fields = dict(f.split("=", 1) for f in engine_lines.get(key, "").split() if "=" in f)
            if "last_byte" in fields:
                log(f"  engine inside: last byte on disk at {float(fields['last_byte']):.3f} s, "
                    f"run ended at {float(fields['seconds']):.3f} s")
            log(f"  engine/aria2c: speed {e[1] / r[1]:.2f}, CPU {e[2] / max(r[2], 1e-3):.2f}")
            log(f"  engine/curl:   speed {e[1] / c[1]:.2f}, CPU {e[2] / max(c[2], 1e-3):.2f}")
            if key == "b":
                limit = 8 * cap / 1e6
                log(f"  physical limit 8 x cap = {limit:.1f} MB/s; engine reaches {100 * e[1] / limit:.1f} %, "
                    f"aria2c {100 * r[1] / limit:.1f} %, curl {100 * c[1] / (cap / 1e6):.1f} % of 1 x cap")
        return 0 if all(v[0] for v in results.values()) else 1
    finally:
        for p in procs:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    os.killpg(p.pid, signal.SIGKILL)
        if not a.keep and source.exists():
            source.unlink()


if __name__ == "__main__":
    sys.exit(main())
