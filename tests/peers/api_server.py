#!/usr/bin/env python3
"""Local carousel API and analytics collector for the tests, on 127.0.0.1 only.

  api_server.py start --bin BUILD_DIR     start it (ctest fixture setup "peers.api")
  api_server.py stop --bin BUILD_DIR      stop it by its recorded pid (cleanup)

Plain HTTP and HTTPS (certificate of the shared test CA, made by peers.py)
on ports chosen by the system, recorded in BUILD_DIR/peers/run/api.env as
"http=PORT" and "https=PORT". Every POST to /mp/collect is appended to
BUILD_DIR/peers/run/api/collect.jsonl, one JSON object per line:
{"path", "query", "content_type", "body", "body_b64"} (body_b64 is exact).

Paths (both listeners):
  GET  /downloader/carousel?pid=..&lang=..  the carousel answer of the current mode
  GET  /carousel/MODE                       the answer of one mode
  GET  /control/carousel?mode=MODE          set the current mode (default "good")
  GET  /control/collected                   collect.jsonl as it is
  GET  /control/collector?mode=MODE         the collector: "good" (records, 204), "error"
                                            (500, nothing recorded) or "silent" (no
                                            answer for 20 s, then records)
  GET  /control/reset                       empty collect.jsonl, both modes back to "good"
  GET  /images/pr_N.png                     banner N (1-12): 600x200 PNG, one colour each
  GET  /images/notimage.png                 200 with text; /images/missing.png 404
  POST /mp/collect?...                      recorded, 204
  ANY  /echo                                200 JSON {"method","path","headers","body"}
  ANY  /status/CODE                         that status with body "status CODE"
  ANY  /slow?ms=N                           the echo answer after N ms
  ANY  /redirect/N                          N 302 hops, then /echo (303 keeps nothing)
  ANY  /to-http                             302 to the plain listener's /echo
  GET  /big                                 200 with 9 MiB
  GET  /short                               Content-Length 100, 50 bytes, close
  GET  /chunked                             chunked body "chunk-0 ... chunk-99"

Carousel modes: good (3 images), one, twelve, empty, code0, typed, malformed,
truncated, huge (9 MiB), deep (nesting 100000), badimages (image 2 is no
image, image 3 missing, image 4 has a wrong md5), slow (answer after 12 s).
"""

import argparse
import base64
import hashlib
import json
import os
import signal
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import peers  # noqa: E402  (certificates of the shared test CA)

HOST = "127.0.0.1"
COLOURS = [(0xE0, 0x30, 0x30), (0x30, 0xA0, 0x40), (0x30, 0x50, 0xE0), (0xE0, 0xC0, 0x20),
           (0x90, 0x30, 0xC0), (0x20, 0xC0, 0xC0), (0xF0, 0x80, 0x20), (0x80, 0x80, 0x80),
           (0x60, 0x30, 0x10), (0xF0, 0x60, 0xB0), (0x10, 0x60, 0x60), (0xB0, 0xE0, 0x60)]
WIDTH, HEIGHT = 600, 200


def png(colour):
    row = b"\x00" + bytes(colour) * WIDTH
    raw = row * HEIGHT

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


IMAGES = {f"pr_{i + 1}.png": png(c) for i, c in enumerate(COLOURS)}


class State:
    def __init__(self, run):
        self.run = run
        self.lock = threading.Lock()
        self.mode = "good"
        self.collector = "good"
        self.ports = {}
        self.collect = run / "collect.jsonl"
        self.collect.write_text("")

    def record(self, entry):
        with self.lock, open(self.collect, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry, ensure_ascii=True) + "\n")


def carousel(mode, base):
    def item(n, name=None, md5=None):
        name = name or f"pr_{n}.png"
        digest = md5 or hashlib.md5(IMAGES.get(name, b"")).hexdigest()
        return {"url": f"{base}/images/{name}", "md5": digest}

    def answer(items, code=1):
        return json.dumps({"code": code, "message": "success", "data": {"list": items}}).encode()

    if mode == "good":
        return answer([item(n) for n in (1, 2, 3)])
    if mode == "one":
        return answer([item(1)])
    if mode == "twelve":
        return answer([item(n) for n in range(1, 13)])
    if mode == "empty":
        return answer([])
    if mode == "code0":
        return answer([item(1)], code=0)
    if mode == "typed":
        return json.dumps({"code": "1", "message": 7, "data": {"list": "pr_1.png"}}).encode()
    if mode == "malformed":
        return b'{"code":1,"message":"success","data":{"list":[{"url":"x" "md5":}]}'
    if mode == "truncated":
        return answer([item(n) for n in (1, 2, 3)])[:-20]
    if mode == "huge":
        return b'{"code":1,"message":"' + b"a" * (9 * 1024 * 1024) + b'","data":{"list":[]}}'
    if mode == "deep":
        return b"[" * 100000
    if mode == "badimages":
        return answer([item(1), {"url": f"{base}/images/notimage.png",
                                 "md5": hashlib.md5(b"not an image\n").hexdigest()},
                       item(3, "missing.png", "0" * 32), item(4, md5="f" * 32)])
    return None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "zv-api"

    def log_message(self, fmt, *args):
        pass

    def reply(self, status, body=b"", ctype="application/json", extra=(), close=False):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        for k, v in extra:
            self.send_header(k, v)
        if status != 204:
            self.send_header("Content-Length", str(len(body)))
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if status != 204 and self.command != "HEAD":
            self.wfile.write(body)

    def body(self):
        n = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(n) if 0 < n <= 16 * 1024 * 1024 else b""

    def base(self):
        tls = isinstance(self.connection, ssl.SSLSocket)
        port = self.server.state.ports["https" if tls else "http"]
        # By name: the test certificate's DNS name is what system TLS libraries match.
        return f"{'https' if tls else 'http'}://localhost:{port}"

    def echo(self, data):
        info = {"method": self.command, "path": self.path,
                "headers": {k: v for k, v in self.headers.items()},
                "body": data.decode("utf-8", "replace")}
        self.reply(200, json.dumps(info).encode())

    def handle_any(self):
        state = self.server.state
        url = urllib.parse.urlsplit(self.path)
        q = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query).items()}
        segs = [s for s in url.path.split("/") if s]
        data = self.body()
        head = segs[0] if segs else ""
        if url.path == "/downloader/carousel" or head == "carousel":
            mode = segs[1] if head == "carousel" and len(segs) > 1 else state.mode
            if mode == "slow":
                time.sleep(12)
                mode = "good"
            answer = carousel(mode, self.base())
            if answer is None:
                return self.reply(404, b"unknown mode")
            return self.reply(200, answer)
        if head == "control":
            what = segs[1] if len(segs) > 1 else ""
            if what == "carousel":
                state.mode = q.get("mode", "good")
                return self.reply(200, b"ok", "text/plain")
            if what == "collector":
                state.collector = q.get("mode", "good")
                return self.reply(200, b"ok", "text/plain")
            if what == "collected":
                return self.reply(200, state.collect.read_bytes(), "text/plain")
            if what == "reset":
                with state.lock:
                    state.collect.write_text("")
                state.mode = "good"
                state.collector = "good"
                return self.reply(200, b"ok", "text/plain")
            return self.reply(404, b"unknown control", "text/plain")
        if head == "images" and len(segs) == 2:
            name = segs[1]
            if name in IMAGES:
                return self.reply(200, IMAGES[name], "image/png")
            if name == "notimage.png":
                return self.reply(200, b"not an image\n", "text/plain")
            return self.reply(404, b"missing", "text/plain")
        if url.path == "/mp/collect" and self.command == "POST":
            if state.collector == "error":
                return self.reply(500, b"collector failure", "text/plain")
            if state.collector == "silent":
                time.sleep(20)
            state.record({"path": url.path, "query": url.query,
                          "content_type": self.headers.get("Content-Type", ""),
                          "body": data.decode("utf-8", "replace"),
                          "body_b64": base64.b64encode(data).decode()})
            return self.reply(204)
        if head == "echo":
            return self.echo(data)
        if head == "status" and len(segs) > 1 and segs[1].isdigit():
            return self.reply(int(segs[1]), f"status {segs[1]}".encode(), "text/plain")
        if head == "slow":
            time.sleep(min(int(q.get("ms", "1000")), 60000) / 1000.0)
            return self.echo(data)
        if head == "redirect":
            n = int(segs[1]) if len(segs) > 1 and segs[1].isdigit() else 1
            loc = f"/redirect/{n - 1}" if n > 1 else "/echo"
            return self.reply(302, b"", extra=[("Location", loc)])
        if head == "to-http":
            return self.reply(302, b"", extra=[("Location", f"http://localhost:{state.ports['http']}/echo")])
        if head == "big":
            return self.reply(200, b"b" * (9 * 1024 * 1024), "application/octet-stream")
        if head == "short":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(b"s" * 50)
            self.close_connection = True
            return None
        if head == "chunked":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for i in range(100):
                part = f"chunk-{i} ".encode()
                self.wfile.write(f"{len(part):x}\r\n".encode() + part + b"\r\n")
            self.wfile.write(b"0\r\n\r\n")
            return None
        return self.reply(404, b"not found", "text/plain")

    do_GET = do_POST = do_PUT = do_HEAD = handle_any


def serve(bin_dir):
    root = peers.prepare(bin_dir)
    run = root / "run" / "api"
    run.mkdir(parents=True, exist_ok=True)
    state = State(run)
    servers = []
    for key, tls in (("http", False), ("https", True)):
        srv = ThreadingHTTPServer((HOST, 0), Handler)
        srv.daemon_threads = True
        srv.state = state
        if tls:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(root / "certs" / "server.pem", root / "certs" / "server.key")
            srv.socket = ctx.wrap_socket(srv.socket, server_side=True)
        state.ports[key] = srv.server_address[1]
        servers.append(srv)
        threading.Thread(target=srv.serve_forever, daemon=True).start()
    env = root / "run" / "api.env"
    env.write_text("".join(f"{k}={v}\n" for k, v in state.ports.items()))
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: stop.set())
    signal.signal(signal.SIGINT, lambda *a: stop.set())
    stop.wait(float(os.environ.get("ZV_PEER_LIFETIME", "3600")))
    env.unlink(missing_ok=True)
    for srv in servers:
        srv.shutdown()
    return 0


def pid_file(bin_dir):
    return peers.peers_dir(bin_dir) / "run" / "api" / "server.pid"


def is_ours(pid, bin_dir):
    try:
        cmd = Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")
    except OSError:
        return False
    text = [c.decode(errors="replace") for c in cmd]
    return "serve" in text and any(t.endswith("api_server.py") for t in text) and str(bin_dir) in text


def stop(bin_dir):
    pf = pid_file(bin_dir)
    env = peers.peers_dir(bin_dir) / "run" / "api.env"
    if pf.exists():
        pid = int(pf.read_text().strip() or 0)
        if pid and is_ours(pid, bin_dir):
            os.kill(pid, signal.SIGTERM)
            deadline = time.time() + 5
            while time.time() < deadline and peers.pid_alive(pid):
                time.sleep(0.05)
            if peers.pid_alive(pid):
                os.kill(pid, signal.SIGKILL)
        pf.unlink(missing_ok=True)
    env.unlink(missing_ok=True)
    return 0


def start(bin_dir):
    stop(bin_dir)
    peers.prepare(bin_dir)
    env = peers.peers_dir(bin_dir) / "run" / "api.env"
    run = peers.peers_dir(bin_dir) / "run" / "api"
    run.mkdir(parents=True, exist_ok=True)
    out = open(run / "output.log", "w")
    proc = __import__("subprocess").Popen(
        [sys.executable, str(Path(__file__).resolve()), "serve", "--bin", str(bin_dir)],
        stdin=__import__("subprocess").DEVNULL, stdout=out, stderr=out, start_new_session=True)
    pid_file(bin_dir).write_text(f"{proc.pid}\n")
    deadline = time.time() + 10
    while time.time() < deadline and proc.poll() is None:
        if env.exists():
            ports = dict(line.split("=", 1) for line in env.read_text().split())
            if all(peers.listening(int(p)) for p in ports.values()):
                print(f"[peers] api listening on {HOST}: " + ", ".join(f"{k} {v}" for k, v in ports.items()))
                return 0
        time.sleep(0.05)
    print("[peers] api did not start:\n" + (run / "output.log").read_text(errors="replace"))
    stop(bin_dir)
    return 1


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("action", choices=["start", "stop", "serve"])
    ap.add_argument("--bin", required=True)
    a = ap.parse_args()
    bin_dir = str(Path(a.bin).resolve())
    return {"start": start, "stop": stop, "serve": serve}[a.action](bin_dir)


if __name__ == "__main__":
    sys.exit(main())
