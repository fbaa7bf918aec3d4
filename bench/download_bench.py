#!/usr/bin/env python3
"""Download benchmark: the engine against aria2c and curl, in one run.

Downloads one file with
  - the engine, 8 connections (bench program zv_bench_download),
  - aria2c -x8 -s8,
  - curl, one connection,
over four links, one table each:
  plain       HTTP from nginx on 127.0.0.1;
  tls         HTTPS from the same nginx, certificate of a test CA that every
              tool is told to trust (verification stays on);
  bottleneck  HTTP across a veth pair between two network namespaces made
              for the run, the server's side shaped by tbf to --rate-mbit
              (needs root; the namespaces are removed at the end);
  long        HTTP through zv_throttle_relay, which holds every chunk for
              --delay-ms in each direction and caps every connection at
              --cap MB/s.
Each download is checked by SHA-256. Prints MB/s (10^6 bytes per second of
wall time, process start included), CPU seconds of the tool (user + sys),
peak RSS, the ratios engine/aria2c and engine/curl, and the share of the
link's limit. With --repeat N every tool runs N times per table, the runs of
the three tools interleaved, and each row shows the median run (by speed)
with the range of speeds and CPU seconds.

  bench/download_bench.py --build build/linux [--cases plain,tls,bottleneck,long] [--repeat 3]
"""

import argparse
import hashlib
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import time
from pathlib import Path

HOST = "127.0.0.1"
# The link between the namespaces uses the benchmarking range (RFC 2544).
NS_SERVER_ADDR, NS_CLIENT_ADDR = "198.18.0.1", "198.18.0.2"
TOOLS = ("engine", "aria2c", "curl")
NAMES = {"engine": "engine (8 conn)", "aria2c": "aria2c -x8 -s8", "curl": "curl (1 conn)"}


def log(msg=""):
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


def pick_ports(base=18060, count=3):
    for k in range(10):
        ports = tuple(base + 100 * k + i for i in range(count))
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
    log(f"making {size // (1 << 20)} MiB test file {path.name}")
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, 4 << 20)
            f.write(os.urandom(n))
            left -= n


def make_certs(work):
    """The test CA and a server certificate for 127.0.0.1, made as the test peers make theirs."""
    sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "peers"))
    import peers  # noqa: E402  (tests/peers/peers.py)
    certs = work / "certs"
    peers.make_certs(certs)
    return certs


def nginx_conf(run, www, listens):
    """listens: [(host, port, certs or None)]"""
    servers = ""
    for host, port, certs in listens:
        tls = ""
        if certs:
            tls = f"    ssl_certificate {certs}/server.pem;\n    ssl_certificate_key {certs}/server.key;\n"
        servers += f"""  server {{
    listen {host}:{port}{' ssl' if certs else ''};
{tls}    root {www};
  }}
"""
    return f"""daemon off;
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
{servers}}}
"""


def start_nginx(work, name, www, listens, prefix=()):
    run = work / name
    run.mkdir(exist_ok=True)
    for d in ["body", "proxy", "fastcgi", "uwsgi", "scgi"]:
        (run / d).mkdir(exist_ok=True)
    conf = run / "nginx.conf"
    conf.write_text(nginx_conf(run, www, listens))
    return subprocess.Popen([*prefix, "nginx", "-p", str(run), "-c", str(conf)], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, start_new_session=True)


def stop(proc):
    if proc.poll() is None:
        os.killpg(proc.pid, signal.SIGTERM)
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()


class Namespaces:
    """Two network namespaces joined by a veth pair; the server side's
    egress shaped by tbf. Removed again by close()."""

    def __init__(self, rate_mbit):
        tag = str(os.getpid())
        self.server, self.client = f"zvbench-s{tag}", f"zvbench-c{tag}"
        self.made = []
        dev_s, dev_c = f"zvbs{tag}"[:15], f"zvbc{tag}"[:15]
        try:
            for ns in (self.server, self.client):
                self.sh("ip", "netns", "add", ns)
                self.made.append(ns)
            self.sh("ip", "link", "add", dev_s, "type", "veth", "peer", "name", dev_c)
            self.sh("ip", "link", "set", dev_s, "netns", self.server)
            self.sh("ip", "link", "set", dev_c, "netns", self.client)
            for ns, dev, addr in ((self.server, dev_s, NS_SERVER_ADDR), (self.client, dev_c, NS_CLIENT_ADDR)):
                self.sh("ip", "-n", ns, "addr", "add", f"{addr}/30", "dev", dev)
                self.sh("ip", "-n", ns, "link", "set", dev, "up")
                self.sh("ip", "-n", ns, "link", "set", "lo", "up")
            # The bucket holds two full-size segments of the veth's largest
            # (segmentation offload) packet, so tbf never has to split them.
            self.sh("ip", "netns", "exec", self.server, "tc", "qdisc", "add", "dev", dev_s, "root", "tbf",
                    "rate", f"{rate_mbit}mbit", "burst", "128kb", "latency", "20ms")
        except BaseException:
            self.close()
            raise

    @staticmethod
    def sh(*cmd):
        res = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if res.returncode != 0:
            raise RuntimeError(f"{' '.join(cmd)}: {res.stdout.strip()}")

    def prefix(self, ns):
        return ("ip", "netns", "exec", ns)

    def wait_listening(self, port, proc, seconds=5):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if proc.poll() is not None:
                raise SystemExit(f"server in {self.server} exited early")
            res = subprocess.run([*self.prefix(self.client), "curl", "-s", "-o", "/dev/null", "--max-time", "1",
                                  f"http://{NS_SERVER_ADDR}:{port}/"], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
            if res.returncode == 0:
                return
            time.sleep(0.1)
        raise SystemExit(f"nothing listens on {NS_SERVER_ADDR}:{port}")

    def close(self):
        for ns in self.made:
            subprocess.run(["ip", "netns", "del", ns], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.made = []


def timed(cmd, prefix=()):
    """Runs cmd under GNU time: (ok, wall s, cpu s, peak RSS MiB, output)."""
    fmt = "ZVTIME %e %U %S %M"
    res = subprocess.run([*prefix, "/usr/bin/time", "-f", fmt, *cmd], stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, timeout=900)
    line = [l for l in res.stdout.splitlines() if l.startswith("ZVTIME ")][-1].split()
    wall, user, sys_, rss = float(line[1]), float(line[2]), float(line[3]), int(line[4])
    return res.returncode == 0, wall, user + sys_, rss / 1024.0, res.stdout


def tool_command(tool, url, out, engine_bin, ca):
    if tool == "engine":
        return [str(engine_bin), url, str(out), "8", *([str(ca)] if ca else [])]
    if tool == "aria2c":
        return ["aria2c", "-x8", "-s8", "--file-allocation=none", "--allow-overwrite=true",
                "--auto-file-renaming=false", "--console-log-level=warn", "--summary-interval=0",
                "--download-result=hide", *([f"--ca-certificate={ca}"] if ca else []),
                "-d", str(out.parent), "-o", out.name, url]
    return ["curl", "-s", "-S", *(["--cacert", str(ca)] if ca else []), "-o", str(out), url]


def run_case(case, engine_bin, out_dir, repeat):
    """Runs every tool `repeat` times, interleaved; returns {tool: [runs]}."""
    runs = {t: [] for t in TOOLS}
    for _ in range(repeat):
        for tool in TOOLS:
            out = out_dir / f"{tool}.bin"
            if out.exists():
                out.unlink()
            ok, wall, cpu, rss, text = timed(tool_command(tool, case["url"], out, engine_bin, case.get("ca")),
                                             case.get("prefix", ()))
            good = ok and out.exists() and out.stat().st_size == case["size"] and sha256_file(out) == case["sha"]
            if not good:
                log(f"{tool} ({case['key']}) failed:\n{text[-2000:]}")
            inside = next((l for l in text.splitlines() if l.startswith("bytes=")), "")
            runs[tool].append({"good": good, "mbs": case["size"] / wall / 1e6, "cpu": cpu, "rss": rss,
                               "inside": inside})
            if out.exists():
                out.unlink()
    return runs


def median_run(runs):
    ordered = sorted(runs, key=lambda r: r["mbs"])
    return ordered[(len(ordered) - 1) // 2]


def report(case, runs):
    log(f"\n({case['key']}) {case['title']}")
    spread = len(runs["engine"]) > 1
    head = f"  {'tool':<18}{'MB/s':>9}{'CPU s':>8}{'RSS MiB':>9}{'% of limit':>12}"
    if spread:
        head += f"{'MB/s range':>17}{'CPU s range':>14}"
    log(head + "  sha256")
    med = {t: median_run(runs[t]) for t in TOOLS}
    for tool in TOOLS:
        m = med[tool]
        limit = case["limit"](tool)
        share = f"{100 * m['mbs'] / limit:.1f} %" if limit else "-"
        line = f"  {NAMES[tool]:<18}{m['mbs']:>9.1f}{m['cpu']:>8.2f}{m['rss']:>9.1f}{share:>12}"
        if spread:
            speeds = [r["mbs"] for r in runs[tool]]
            cpus = [r["cpu"] for r in runs[tool]]
            line += f"{min(speeds):>8.1f}-{max(speeds):<8.1f}{min(cpus):>6.2f}-{max(cpus):<7.2f}"
        ok = all(r["good"] for r in runs[tool])
        log(line + f"  {'ok' if ok else 'FAILED'}")
    e, r, c = (med[t] for t in TOOLS)
    log(f"  engine/aria2c: speed {e['mbs'] / r['mbs']:.2f}, CPU {e['cpu'] / max(r['cpu'], 1e-3):.2f}")
    log(f"  engine/curl:   speed {e['mbs'] / c['mbs']:.2f}, CPU {e['cpu'] / max(c['cpu'], 1e-3):.2f}")
    log(f"  {case['limit_text']}")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", required=True, help="build tree with bench/zv_bench_download")
    ap.add_argument("--cases", default="plain,tls,bottleneck,long", help="tables to run, comma-separated")
    ap.add_argument("--size-mib", type=int, default=512, help="file size of plain, tls and bottleneck")
    ap.add_argument("--long-size-mib", type=int, default=128, help="file size of the long capped link")
    ap.add_argument("--rate-mbit", type=float, default=800, help="tbf rate of the bottleneck, Mbit/s")
    ap.add_argument("--delay-ms", type=float, default=40, help="delay each way of the long link")
    ap.add_argument("--cap", type=float, default=10.0, help="per-connection cap of the long link, MB/s")
    ap.add_argument("--repeat", type=int, default=1, help="runs per tool and table")
    ap.add_argument("--engine-bin", help="engine bench program to run (default <build>/bench/zv_bench_download)")
    ap.add_argument("--work", help="working folder (default <build>/bench-work)")
    ap.add_argument("--keep", action="store_true", help="keep the source files for the next run")
    a = ap.parse_args()
    cases_wanted = [c for c in a.cases.split(",") if c]
    for c in cases_wanted:
        if c not in ("plain", "tls", "bottleneck", "long"):
            raise SystemExit(f"unknown case {c}")

    build = Path(a.build).resolve()
    engine_bin = Path(a.engine_bin).resolve() if a.engine_bin else build / "bench" / "zv_bench_download"
    relay_bin = build / "bench" / "zv_throttle_relay"
    for b in (engine_bin, relay_bin):
        if not b.exists():
            raise SystemExit(f"{b} missing: ninja -C {build} zv_bench_download zv_throttle_relay")
    for tool in ("nginx", "aria2c", "curl", "/usr/bin/time", "openssl"):
        if not shutil.which(tool):
            raise SystemExit(f"{tool} not found")
    if "bottleneck" in cases_wanted and (os.geteuid() != 0 or not shutil.which("ip") or not shutil.which("tc")):
        log("bottleneck table skipped: it needs root and ip/tc (iproute2) for its network namespaces")
        cases_wanted.remove("bottleneck")

    work = Path(a.work).resolve() if a.work else build / "bench-work"
    www = work / "www"
    www.mkdir(parents=True, exist_ok=True)
    size, long_size = a.size_mib << 20, a.long_size_mib << 20
    sources = {"big.bin": size}
    if "long" in cases_wanted:
        sources["long.bin"] = long_size
    for name, n in sources.items():
        make_source(www / name, n)
    sha = {name: sha256_file(www / name) for name in sources}
    out_dir = work / "out"
    out_dir.mkdir(exist_ok=True)
    certs = make_certs(work)
    ca = certs / "ca.pem"

    http_port, https_port, relay_port = pick_ports()
    cap = a.cap * 1e6
    # tbf counts whole Ethernet frames: 14 bytes of header and 20 + 32 of
    # IP and TCP (with time stamps) around every 1448 payload bytes.
    payload_limit = a.rate_mbit * 1e6 / 8 * 1448 / 1514 / 1e6
    no_limit = lambda tool: None  # noqa: E731
    loopback_text = "limit: none on loopback; server and clients share the machine's cores"
    case_table = {
        "plain": dict(title=f"plain HTTP on loopback, {a.size_mib} MiB", url=f"http://{HOST}:{http_port}/big.bin",
                      file="big.bin", limit=no_limit, limit_text=loopback_text),
        "tls": dict(title=f"HTTPS on loopback (test CA, verified), {a.size_mib} MiB",
                    url=f"https://{HOST}:{https_port}/big.bin", file="big.bin", ca=ca, limit=no_limit,
                    limit_text=loopback_text),
        "bottleneck": dict(title=f"shared bottleneck: veth between two namespaces, tbf {a.rate_mbit:g} Mbit/s, "
                                 f"{a.size_mib} MiB", file="big.bin", limit=lambda tool: payload_limit,
                           limit_text=f"link payload limit {payload_limit:.1f} MB/s "
                                      f"({a.rate_mbit:g} Mbit/s of 1514-byte frames carrying 1448 bytes each)"),
        "long": dict(title=f"long capped link: relay with {a.delay_ms:g} ms each way, {a.cap:g} MB/s per connection, "
                           f"{a.long_size_mib} MiB", url=f"http://{HOST}:{relay_port}/long.bin", file="long.bin",
                     limit=lambda tool: (1 if tool == "curl" else 8) * cap / 1e6,
                     limit_text=f"limit 8 x cap = {8 * cap / 1e6:.1f} MB/s for 8 connections, "
                                f"1 x cap = {cap / 1e6:.1f} MB/s for curl's one; round trip {2 * a.delay_ms:g} ms"),
    }
    procs, ns = [], None
    results = []
    try:
        nginx = start_nginx(work, "nginx", www, [(HOST, http_port, None), (HOST, https_port, certs)])
        procs.append(nginx)
        wait_listening(http_port, nginx)
        wait_listening(https_port, nginx)
        if "long" in cases_wanted:
            relay = subprocess.Popen([str(relay_bin), str(relay_port), str(http_port), str(cap), str(a.delay_ms)],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT,
                                     start_new_session=True)
            procs.append(relay)
            wait_listening(relay_port, relay)
        if "bottleneck" in cases_wanted:
            ns = Namespaces(a.rate_mbit)
            ns_nginx = start_nginx(work, "nginx-ns", www, [(NS_SERVER_ADDR, http_port, None)], ns.prefix(ns.server))
            procs.append(ns_nginx)
            ns.wait_listening(http_port, ns_nginx)
            case_table["bottleneck"].update(url=f"http://{NS_SERVER_ADDR}:{http_port}/big.bin",
                                            prefix=ns.prefix(ns.client))
        # Warm the page cache so the first tool is not charged for disk reads.
        for name in sources:
            subprocess.run(["cat", str(www / name)], stdout=subprocess.DEVNULL)

        load_before = os.getloadavg()
        for key in cases_wanted:
            case = dict(case_table[key], key=key)
            case.update(size=sources[case["file"]], sha=sha[case["file"]])
            results.append((case, run_case(case, engine_bin, out_dir, a.repeat)))

        log("")
        log(f"nginx 1 worker; {os.cpu_count()} cores shared by server, clients and other work; "
            f"{a.repeat} run(s) per row, median shown")
        # Other work on the machine takes cores from the tools: the load shows how much.
        log("load average before {:.2f} {:.2f} {:.2f}, after {:.2f} {:.2f} {:.2f}".format(*load_before,
                                                                                       *os.getloadavg()))
        for case, runs in results:
            report(case, runs)
        return 0 if all(r["good"] for _, runs in results for t in TOOLS for r in runs[t]) else 1
    finally:
        for p in reversed(procs):
            stop(p)
        if ns:
            ns.close()
        if not a.keep:
            for name in sources:
                if (www / name).exists():
                    (www / name).unlink()


if __name__ == "__main__":
    sys.exit(main())
