#!/usr/bin/env python3
"""Local demo servers for the demo build of the installer, on 127.0.0.1 only.

  demo_servers.py start [--bin BUILD_DIR] [--installer EXE]
  demo_servers.py stop  [--bin BUILD_DIR]
  demo_servers.py status [--bin BUILD_DIR]

Ports and the download path come from the demo address table
resources/demo/url.ini (its [DemoServers] section and STR_DOWN_URL):

  http / https          nginx: the package download server (the demo installer
                        at the path of STR_DOWN_URL, with ranges and keep-alive)
                        and the product page host ("/producturl?key=...";
                        key=pkg_url answers 302 to the download address on
                        the same scheme and port)
  api_https / api_http  the carousel API ("/downloader/carousel?pid=&lang=")
                        and the analytics collector ("POST /mp/collect"),
                        served by tests/peers/api_server.py's handler

The HTTPS certificate is the one of tests/peers, signed by its test CA
(BUILD_DIR/peers/certs/ca.pem). Everything runs under the supervisor of
tests/peers/peers.py as the service "demo" (state in BUILD_DIR/peers/run/demo,
ports in BUILD_DIR/peers/run/demo.env); it ends by itself after
ZV_PEER_LIFETIME seconds.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
import urllib.parse
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parent.parent
PEERS = REPO / "tests" / "peers"
sys.path.insert(0, str(PEERS))
import peers  # noqa: E402  (test CA, supervisor, stop by pid)

SERVICE = "demo"
HOST = peers.HOST
# Addresses name the listeners by the certificate's host name.
URL_HOST = "localhost"
URL_TABLE = REPO / "resources" / "demo" / "url.ini"
PORT_KEYS = ("http", "https", "api_https", "api_http")


def read_url_table(path=URL_TABLE):
    """Sections of the UTF-16LE address table, read like the installer does."""
    text = path.read_bytes().decode("utf-16")
    sections, current = {}, ""
    for line in text.split("\n"):
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("["):
            current = line[1:].split("]", 1)[0]
            sections.setdefault(current, {})
        elif "=" in line:
            key, value = line.split("=", 1)
            sections.setdefault(current, {})[key.strip()] = value.strip()
    return sections


def demo_layout():
    """Ports and download path of the demo address table, checked against each other."""
    table = read_url_table()
    ports = {k: int(table["DemoServers"][k]) for k in PORT_KEYS}
    down = urllib.parse.urlsplit(table["CommonUrl"]["STR_DOWN_URL"])
    if down.scheme != "https" or down.hostname != URL_HOST or down.port != ports["https"]:
        raise SystemExit(f"STR_DOWN_URL {down.geturl()} is not on the demo https port {ports['https']}")
    return ports, down.path


def nginx_conf(root, run, ports, download_path):
    certs = root / "certs"
    www = run / "www"

    def server(port, tls):
        ssl = (f"    ssl_certificate {certs}/server.pem;\n"
               f"    ssl_certificate_key {certs}/server.key;\n") if tls else ""
        return f"""
  server {{
    listen {HOST}:{port}{' ssl' if tls else ''};
    server_name _;
{ssl}    root {www};
    # Paced like a real download (a few seconds), so that it can be watched
    # and interrupted; slower still while the file "slow-download" exists in
    # the run folder, for tests that watch the estimate of the time left.
    location = {download_path} {{
      limit_rate 32k;
      if (-f {run}/slow-download) {{ set $limit_rate 6k; }}
    }}
    location = /producturl {{
      if ($arg_key = pkg_url) {{ return 302 $scheme://{URL_HOST}:$server_port{download_path}; }}
      default_type text/html;
      return 200 "<!DOCTYPE html><html><head><meta charset=utf-8><title>Zelvane demo product page</title></head><body><h1>Zelvane demo product page</h1><p>key=$arg_key pid=$arg_pid lang=$arg_lang custom=$arg_custom</p></body></html>\\n";
    }}
    location / {{ return 404; }}
  }}
"""

    return peers.nginx_config(run, server(ports['http'], False) + server(ports['https'], True))


def serve_api(bin_dir, http_port, https_port):
    """The carousel API and analytics collector of tests/peers on fixed ports."""
    import ssl
    import threading
    import signal
    from http.server import ThreadingHTTPServer
    import api_server

    root = peers.peers_dir(bin_dir)
    run = root / "run" / SERVICE / "api"
    run.mkdir(parents=True, exist_ok=True)
    state = api_server.State(run)
    state.ports = {"http": http_port, "https": https_port}
    servers = []
    for port, tls in ((http_port, False), (https_port, True)):
        srv = ThreadingHTTPServer((HOST, port), api_server.Handler)
        srv.daemon_threads = True
        srv.state = state
        if tls:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(root / "certs" / "server.pem", root / "certs" / "server.key")
            srv.socket = ctx.wrap_socket(srv.socket, server_side=True)
        servers.append(srv)
        threading.Thread(target=srv.serve_forever, daemon=True).start()
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: stop.set())
    signal.signal(signal.SIGINT, lambda *a: stop.set())
    stop.wait()
    for srv in servers:
        srv.shutdown()
    return 0


def env_file(bin_dir):
    return peers.peers_dir(bin_dir) / "run" / f"{SERVICE}.env"


def start(bin_dir, installer):
    ports, download_path = demo_layout()
    installer = Path(installer)
    if not installer.is_file():
        print(f"[demo] no demo installer at {installer}: build the target zv_demo_installer first")
        return 1
    root = peers.prepare(bin_dir)
    peers.stop(SERVICE, bin_dir)  # our own earlier run of this tree
    busy = [f"{k} {p}" for k, p in ports.items() if not peers.port_free(p)]
    if busy:
        print(f"[demo] ports in use: {', '.join(busy)} (demo servers of another build tree? "
              f"stop them with tools/demo-servers stop --bin THAT_TREE)")
        return 1
    run = root / "run" / SERVICE
    www = run / "www"
    if www.exists():
        shutil.rmtree(www)
    target = www / download_path.lstrip("/")
    target.parent.mkdir(parents=True)
    # The build's own time goes with the file: a restart of the servers then
    # serves the same validator, as a real server does, and a download
    # stopped by the restart resumes instead of starting over.
    shutil.copy2(installer, target)
    for d in ["tmp-body", "tmp-proxy", "tmp-fastcgi", "tmp-uwsgi", "tmp-scgi"]:
        (run / d).mkdir(parents=True, exist_ok=True)
    (run / "nginx.conf").write_text(nginx_conf(root, run, ports, download_path))
    cmds = [["nginx", "-p", str(run), "-c", str(run / "nginx.conf")],
            [sys.executable, str(Path(__file__).resolve()), "serve-api", "--bin", str(bin_dir),
             "--http-port", str(ports["api_http"]), "--https-port", str(ports["api_https"])]]
    out = open(run / "output.log", "w")
    sup = subprocess.Popen(
        [sys.executable, str(PEERS / "peers.py"), "supervise", SERVICE, str(root), "--",
         *[part for cmd in cmds for part in (cmd + ["\x1f"])]],
        stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
    (run / "supervisor.pid").write_text(f"{sup.pid}\n")
    deadline = time.time() + 10
    while time.time() < deadline and sup.poll() is None:
        if all(peers.listening(p) for p in ports.values()):
            env = "".join(f"{k}={v}\n" for k, v in ports.items())
            env += f"download_path={download_path}\ninstaller={target}\nca={root / 'certs' / 'ca.pem'}\n"
            env_file(bin_dir).write_text(env)
            print(f"[demo] listening on {HOST}: " + ", ".join(f"{k} {v}" for k, v in ports.items()))
            print(f"[demo] installer: https://{URL_HOST}:{ports['https']}{download_path} "
                  f"(test CA {root / 'certs' / 'ca.pem'})")
            return 0
        time.sleep(0.05)
    peers.stop(SERVICE, bin_dir)
    out.close()
    print("[demo] servers did not start:\n" + (run / "output.log").read_text(errors="replace"))
    return 1


def status(bin_dir):
    env = env_file(bin_dir)
    if not env.exists():
        print("[demo] not running")
        return 1
    print(env.read_text(), end="")
    return 0


def main():
    ap = argparse.ArgumentParser(description="Local demo servers of the demo installer build.")
    ap.add_argument("action", nargs="?", default="start", choices=["start", "stop", "status", "serve-api"])
    ap.add_argument("--bin", default=str(REPO / "build" / "windows"), help="build tree (default build/windows)")
    ap.add_argument("--installer", help="demo installer to serve (default BUILD_DIR/tools/demo/demo-installer.exe)")
    ap.add_argument("--http-port", type=int)
    ap.add_argument("--https-port", type=int)
    a = ap.parse_args()
    bin_dir = Path(a.bin).resolve()
    if a.action == "serve-api":
        return serve_api(bin_dir, a.http_port, a.https_port)
    if a.action == "stop":
        return peers.stop(SERVICE, bin_dir)
    if a.action == "status":
        return status(bin_dir)
    return start(bin_dir, a.installer or bin_dir / "tools" / "demo" / "demo-installer.exe")


if __name__ == "__main__":
    sys.exit(main())
