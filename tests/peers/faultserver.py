#!/usr/bin/env python3
"""A small HTTP/1.1 server that misbehaves on purpose, for what nginx will not do.

The first path segment picks the behaviour; the rest names a file of
<root>/www/files (see README.md for the full table). Ranges are single
"bytes=a-b" / "bytes=a-" ranges; connections are kept alive unless the
client asks "close". Listens on 127.0.0.1 only, plain and TLS.
"""

import argparse
import json
import os
import socket
import ssl
import struct
import threading
import time
import urllib.parse
from pathlib import Path

HOST = "127.0.0.1"
MAX_HEAD = 64 * 1024
STALL_MAX = float(os.environ.get("ZV_STALL_MAX", "120"))
IO_TIMEOUT = 60


class Closed(Exception):
    pass


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.reset()

    def reset(self):
        with getattr(self, "lock", threading.Lock()):
            self.requests = 0
            self.body_bytes = 0
            self.log = []

    def request(self, line, headers):
        with self.lock:
            self.requests += 1
            self.log.append({"line": line, "range": headers.get("range", ""),
                             "connection": headers.get("connection", "")})
            del self.log[:-500]

    def sent(self, n):
        with self.lock:
            self.body_bytes += n

    def snapshot(self):
        with self.lock:
            return {"requests": self.requests, "body_bytes": self.body_bytes, "log": list(self.log)}


class Server:
    def __init__(self, root, state):
        self.files = Path(root) / "www" / "files"
        self.state = Path(state)
        self.stats = Stats()
        self.stopping = threading.Event()

    # ------------------------------------------------------------ helpers

    def file_data(self, name):
        path = (self.files / name).resolve()
        if path.parent != self.files.resolve() or not path.is_file():
            return None
        if path.stat().st_size > 64 * 1024 * 1024:
            return None  # the fault modes serve the small files only
        return path.read_bytes()

    def changing_size_file(self, name):
        return self.state / f"changing-{name}.size"

    def changing_data(self, name):
        data = self.file_data(name)
        if data is None:
            return None
        f = self.changing_size_file(name)
        size = int(f.read_text()) if f.exists() else len(data)
        # Longer than the file: repeat it; the bytes stay a function of the size.
        while len(data) < size:
            data = data + data
        return data[:size]


def parse_range(value, size):
    """(first, last) inclusive, or None for no/invalid range."""
    if not value.startswith("bytes="):
        return None
    spec = value[6:].split(",")[0].strip()
    first, _, last = spec.partition("-")
    try:
        if first == "":
            n = int(last)
            return (max(0, size - n), size - 1) if n > 0 and size > 0 else None
        a = int(first)
        b = int(last) if last else size - 1
    except ValueError:
        return None
    if a >= size or b < a:
        return "unsatisfiable"
    return a, min(b, size - 1)


class Connection:
    def __init__(self, server, sock):
        self.srv = server
        self.sock = sock
        self.buf = b""

    # ------------------------------------------------------------ I/O

    def recv_head(self):
        while b"\r\n\r\n" not in self.buf:
            if len(self.buf) > MAX_HEAD:
                raise Closed()
            chunk = self.sock.recv(65536)
            if not chunk:
                raise Closed()
            self.buf += chunk
        head, _, self.buf = self.buf.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        return lines[0], headers

    def send(self, data):
        self.sock.sendall(data)

    def send_body(self, data, rate=None):
        """Body bytes, optionally throttled to rate bytes per second."""
        if not rate:
            self.send(data)
            self.srv.stats.sent(len(data))
            return
        step = max(1, min(16384, rate // 20))
        start = time.time()
        sent = 0
        while sent < len(data):
            part = data[sent:sent + step]
            self.send(part)
            sent += len(part)
            self.srv.stats.sent(len(part))
            ahead = sent / rate - (time.time() - start)
            if ahead > 0:
                time.sleep(ahead)

    def head(self, status, reason, headers, keep):
        lines = [f"HTTP/1.1 {status} {reason}"]
        lines += [f"{k}: {v}" for k, v in headers]
        lines.append("Connection: " + ("keep-alive" if keep else "close"))
        self.send(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))

    def simple(self, status, reason, keep, extra=()):
        body = f"{status} {reason}\n".encode()
        self.head(status, reason, [("Content-Type", "text/plain"), ("Content-Length", len(body)), *extra], keep)
        self.send(body)

    def reset(self):
        """Abort the connection with a TCP RST."""
        raw = self.sock
        if isinstance(raw, ssl.SSLSocket):
            raw = socket.socket(fileno=os.dup(raw.fileno()))
            self.sock.close()
        raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        raw.close()
        raise Closed()

    def stall(self):
        deadline = time.time() + STALL_MAX
        self.sock.settimeout(0.5)
        while time.time() < deadline and not self.srv.stopping.is_set():
            try:
                if not self.sock.recv(4096):
                    break
            except (socket.timeout, ssl.SSLError):
                continue
            except OSError:
                break
        raise Closed()

    # ------------------------------------------------------------ requests

    def serve(self):
        try:
            while True:
                line, headers = self.recv_head()
                self.srv.stats.request(line, headers)
                parts = line.split(" ")
                if len(parts) != 3:
                    self.simple(400, "Bad Request", False)
                    return
                method, target, _ = parts
                keep = headers.get("connection", "").lower() != "close"
                if not self.handle(method, target, headers, keep) or not keep:
                    return
        except (Closed, OSError, ssl.SSLError):
            pass
        finally:
            try:
                self.sock.close()
            except OSError:
                pass

    def handle(self, method, target, headers, keep):
        """Answers one request; False when the connection must end."""
        url = urllib.parse.urlsplit(target)
        q = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query).items()}
        segs = [urllib.parse.unquote(s) for s in url.path.split("/")[1:]]
        mode = segs[0] if segs else ""
        name = segs[-1] if len(segs) > 1 else ""
        rng_header = headers.get("range", "")

        if mode == "control":
            return self.control(segs[1:], q, keep)
        if mode == "status":
            code = int(segs[1]) if len(segs) > 1 and segs[1].isdigit() else 500
            self.simple(code, "Status", keep)
            return True
        if mode == "loop":
            self.simple(302, "Found", keep, [("Location", url.path)])
            return True
        if mode == "redirects":
            n = int(segs[1]) if len(segs) > 2 and segs[1].isdigit() else 0
            loc = f"/redirects/{n - 1}/{name}" if n > 1 else f"/files/{name}"
            self.simple(302, "Found", keep, [("Location", loc)])
            return True
        if mode == "longheader":
            n = int(q.get("n", 100000))
            self.head(200, "OK", [("X-Long", "a" * n), ("Content-Length", 2)], keep)
            self.send(b"ok")
            return True
        if mode == "manyheaders":
            n = int(q.get("n", 20000))
            self.head(200, "OK", [(f"X-H{i}", "v") for i in range(n)] + [("Content-Length", 2)], keep)
            self.send(b"ok")
            return True
        if mode == "hugelength":
            self.head(200, "OK", [("Content-Length", q.get("n", "99999999999999999999999"))], False)
            self.send(b"x" * 1000)
            return False
        if mode == "hugerange":
            total = q.get("n", "18446744073709551615")
            self.head(206, "Partial Content", [("Content-Range", f"bytes 0-999/{total}"),
                                               ("Content-Length", 1000)], False)
            self.send(b"x" * 1000)
            return False
        if mode == "badstatus":
            self.send(b"HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n")
            return False

        data = self.srv.changing_data(name) if mode == "changing" else self.srv.file_data(name)
        if data is None:
            self.simple(404, "Not Found", keep)
            return True
        size = len(data)
        rng = None if mode == "norange" else parse_range(rng_header, size)
        if rng == "unsatisfiable":
            self.simple(416, "Range Not Satisfiable", keep, [("Content-Range", f"bytes */{size}")])
            return True
        if mode in ("range403", "range416") and rng is not None and rng[0] != 0:
            code = 403 if mode == "range403" else 416
            self.simple(code, "Refused", keep)
            return True

        first, last = rng if rng else (0, size - 1)
        status = 206 if rng else 200
        if mode == "badrange" and rng and first > 0:
            first = min(first + 1, last)  # data and header from the wrong start
        body = data[first:last + 1]
        hdrs = [("Content-Type", "application/octet-stream"), ("Accept-Ranges", "bytes")]
        if status == 206:
            total = size + 1000 if mode == "badtotal" else size
            hdrs.append(("Content-Range", f"bytes {first}-{last}/{total}"))

        if mode in ("chunked", "badchunk"):
            return self.chunked(method, status, hdrs, body, q, keep, bad=(mode == "badchunk"))
        if mode == "noclen":
            self.head(status, "OK", hdrs, False)
            if method != "HEAD":
                self.send_body(body)
            return False
        hdrs.append(("Content-Length", len(body)))
        self.head(status, "Partial Content" if status == 206 else "OK", hdrs, keep)
        if method == "HEAD":
            return True
        if mode == "reset":
            at = int(q.get("at", len(body) // 2))
            self.send_body(body[:at])
            time.sleep(0.05)
            self.reset()
        if mode == "stall":
            at = int(q.get("at", len(body) // 2))
            self.send_body(body[:at])
            self.stall()
        if mode == "short":
            self.send_body(body[:len(body) // 2])
            return False
        rate = int(q["rate"]) if mode == "slow" and "rate" in q else None
        self.send_body(body, rate)
        return True

    def chunked(self, method, status, hdrs, body, q, keep, bad):
        hdrs = hdrs + [("Transfer-Encoding", "chunked")]
        self.head(status, "OK", hdrs, keep)
        if method == "HEAD":
            return True
        step = max(1, int(q.get("chunk", 4000)))
        kind = q.get("kind", "size")
        out = bytearray()
        for i in range(0, len(body), step):
            part = body[i:i + step]
            if bad and i > 0:
                if kind == "size":
                    out += b"zz\r\n"
                elif kind == "crlf":
                    out += f"{len(part):x}\r\n".encode() + part + b"XX"
                elif kind == "overflow":
                    out += b"1" * 40 + b"\r\n"
                elif kind == "longline":
                    out += b"1" + b" " * 100000 + b"\r\n"
                self.send(bytes(out))
                return False
            out += f"{len(part):x}\r\n".encode() + part + b"\r\n"
            if len(out) > 65536:
                self.send(bytes(out))
                self.srv.stats.sent(len(out))
                out = bytearray()
        out += b"0\r\n\r\n"
        self.send(bytes(out))
        return True

    def control(self, segs, q, keep):
        what = segs[0] if segs else ""
        if what == "changing" and len(segs) > 1:
            f = self.srv.changing_size_file(segs[1])
            if "size" in q:
                f.write_text(str(int(q["size"])))
            else:
                f.unlink(missing_ok=True)
            body = b"ok\n"
        elif what == "reset":
            self.srv.stats.reset()
            body = b"ok\n"
        elif what == "stats":
            body = json.dumps(self.srv.stats.snapshot()).encode()
        else:
            self.simple(404, "Not Found", keep)
            return True
        self.head(200, "OK", [("Content-Type", "application/json"), ("Content-Length", len(body))], keep)
        self.send(body)
        return True


# ---------------------------------------------------------------- SOCKS

def recv_exact(sock, n):
    data = b""
    while len(data) < n:
        part = sock.recv(n - len(data))
        if not part:
            raise Closed()
        data += part
    return data


def recv_until_nul(sock, limit=1024):
    data = b""
    while not data.endswith(b"\0"):
        if len(data) > limit:
            raise Closed()
        data += recv_exact(sock, 1)
    return data[:-1].decode("latin-1")


def relay(a, b):
    """Copy bytes both ways until either side closes."""
    def pump(src, dst):
        try:
            while True:
                data = src.recv(65536)
                if not data:
                    break
                dst.sendall(data)
        except OSError:
            pass
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
    t = threading.Thread(target=pump, args=(b, a), daemon=True)
    t.start()
    pump(a, b)
    t.join(IO_TIMEOUT)


def connect_target(host, port):
    """Only loopback targets: the peers never reach out of the machine."""
    if host not in ("127.0.0.1", "localhost"):
        return None
    try:
        return socket.create_connection(("127.0.0.1", port), timeout=5)
    except OSError:
        return None


def fault_reply(host):
    """Target names "reply-N.invalid" make the proxy answer reply code N."""
    if host.startswith("reply-") and host.endswith(".invalid"):
        return int(host[6:-8])
    return None


def socks4(sock, faults):
    cmd, port = struct.unpack("!BH", recv_exact(sock, 3))
    ip = socket.inet_ntoa(recv_exact(sock, 4))
    user = recv_until_nul(sock)
    host = ip
    if ip.startswith("0.0.0.") and ip != "0.0.0.0":
        host = recv_until_nul(sock)  # SOCKS 4a: the name follows the user id
    code = 90
    if faults and user.startswith("reply"):
        code = int(user[5:])
    target = connect_target(host, port) if code == 90 and cmd == 1 else None
    if code == 90 and target is None:
        code = 91
    sock.sendall(bytes([0, code]) + struct.pack("!H", port) + socket.inet_aton("127.0.0.1"))
    if target:
        relay(sock, target)


def socks5(sock, greeting_mode, faults):
    n = recv_exact(sock, 1)[0]
    methods = recv_exact(sock, n)
    if greeting_mode == "nomethod":
        sock.sendall(b"\x05\xff")
        return
    if greeting_mode == "wantauth":
        sock.sendall(b"\x05\x02")
        return
    if greeting_mode == "badversion":
        sock.sendall(b"\x04\x00")
        return
    if 2 in methods:
        sock.sendall(b"\x05\x02")
        ver, ulen = recv_exact(sock, 2)
        user = recv_exact(sock, ulen).decode("latin-1")
        plen = recv_exact(sock, 1)[0]
        recv_exact(sock, plen)
        if faults and user == "authfail":
            sock.sendall(b"\x01\x01")
            return
        if faults and user == "authversion":
            sock.sendall(b"\x02\x00")
            return
        sock.sendall(b"\x01\x00")
    else:
        sock.sendall(b"\x05\x00")
    ver, cmd, _, atyp = recv_exact(sock, 4)
    if atyp == 1:
        host = socket.inet_ntoa(recv_exact(sock, 4))
    elif atyp == 3:
        host = recv_exact(sock, recv_exact(sock, 1)[0]).decode("latin-1")
    elif atyp == 4:
        host = socket.inet_ntop(socket.AF_INET6, recv_exact(sock, 16))
    else:
        return
    port = struct.unpack("!H", recv_exact(sock, 2))[0]
    bound = b"\x01" + socket.inet_aton("127.0.0.1") + struct.pack("!H", port)
    code = fault_reply(host) if faults else None
    if code is not None:
        sock.sendall(bytes([5, code, 0]) + bound)
        return
    if faults and host == "ipv6.invalid":
        sock.sendall(b"\x05\x00\x00\x04" + bytes(16) + struct.pack("!H", port))
        return
    target = connect_target(host, port) if cmd == 1 else None
    if target is None:
        sock.sendall(b"\x05\x05\x00" + bound)
        return
    if faults and host == "localhost":
        # Bound address given as a domain name: a longer reply.
        name = b"peer.invalid"
        sock.sendall(b"\x05\x00\x00\x03" + bytes([len(name)]) + name + struct.pack("!H", port))
    else:
        sock.sendall(b"\x05\x00\x00" + bound)
    relay(sock, target)


def socks_session(sock, greeting_mode, faults):
    try:
        first = recv_exact(sock, 1)[0]
        if first == 4 and greeting_mode is None:
            socks4(sock, faults)
        elif first == 5:
            socks5(sock, greeting_mode, faults)
    except (Closed, OSError, ValueError):
        pass
    finally:
        try:
            sock.close()
        except OSError:
            pass


def socks_loop(server, lsock, greeting_mode, faults):
    while not server.stopping.is_set():
        try:
            sock, _ = lsock.accept()
        except OSError:
            return
        sock.settimeout(IO_TIMEOUT)
        threading.Thread(target=socks_session, args=(sock, greeting_mode, faults), daemon=True).start()


def listen(port):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((HOST, port))
    s.listen(64)
    return s


def accept_loop(server, lsock, tls):
    while not server.stopping.is_set():
        try:
            sock, _ = lsock.accept()
        except OSError:
            return
        sock.settimeout(IO_TIMEOUT)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

        def run(sock=sock):
            if tls:
                try:
                    sock = tls.wrap_socket(sock, server_side=True)
                except (OSError, ssl.SSLError):
                    sock.close()
                    return
            Connection(server, sock).serve()

        threading.Thread(target=run, daemon=True).start()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--state", required=True)
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--tls-port", type=int, required=True)
    ap.add_argument("--socks4a-port", type=int, required=True)
    ap.add_argument("--socks-fault-ports", type=int, nargs=4, required=True,
                    help="faults by name; no method; method 2 unasked; wrong version")
    a = ap.parse_args()
    server = Server(a.root, a.state)
    certs = Path(a.root) / "certs"
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(certs / "server.pem", certs / "server.key")
    plain_sock, tls_sock = listen(a.port), listen(a.tls_port)
    threading.Thread(target=accept_loop, args=(server, tls_sock, tls), daemon=True).start()
    socks = [(a.socks4a_port, None, False)]
    socks += zip(a.socks_fault_ports, [None, "nomethod", "wantauth", "badversion"], [True] * 4)
    for port, mode, faults in socks:
        threading.Thread(target=socks_loop, args=(server, listen(port), mode, faults), daemon=True).start()
    import signal
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    accept_loop(server, plain_sock, None)


if __name__ == "__main__":
    main()
