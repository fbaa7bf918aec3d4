#!/usr/bin/env python3
"""Real network peers for the tests, on 127.0.0.1 only.

  peers.py start SERVICE --bin BUILD_DIR     start one service (ctest fixture setup)
  peers.py stop SERVICE --bin BUILD_DIR      stop it by its recorded pid (cleanup)
  peers.py prepare --bin BUILD_DIR           make certificates and test files only
  peers.py certs --bin BUILD_DIR             make the certificates only (a build step)

SERVICE is one of: nginx, socks, httpproxy, faulty.

Everything lives in BUILD_DIR/peers: certs/ (test CA and server certificates),
www/files/ (test files, listed with their SHA-256 in www/manifest.txt) and
run/<service>/ (configuration, logs, pid). Each started service writes the
ports it listens on to run/<service>.env as key=value lines.

Every service runs under a small supervisor process of this script: stopping
the supervisor stops its servers, and the supervisor ends them by itself after
ZV_PEER_LIFETIME seconds (default 3600) so that an interrupted test run leaves
nothing behind for long.
"""

import argparse
import fcntl
import hashlib
import os
import random
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
HOST = "127.0.0.1"

# Preferred ports: one fixed block of 20 (18080-18099). When a port of a
# service is taken (another build tree's peers running), the service moves
# by whole blocks of 100 and records where it went.
PORT_BASE = 18080
PORT_STEP = 100
PORT_TRIES = 10
SERVICE_PORTS = {
    "nginx": [("http", 0), ("https", 1), ("https_untrusted", 2),
              ("https_wronghost", 3), ("https_expired", 4)],
    "socks": [("socks", 5), ("socks_auth", 6)],
    "httpproxy": [("proxy", 7), ("proxy_auth", 8)],
    "faulty": [("http", 9), ("https", 10), ("socks4a", 11), ("socks_fault", 12),
               ("socks_nomethod", 13), ("socks_wantauth", 14), ("socks_badversion", 15)],
}

SOCKS_USER = "zvpeer"
SOCKS_PASSWORD = "zvpeer-secret"
PROXY_USER = "zvproxy"
PROXY_PASSWORD = "zvproxy-secret"

# name -> size; content is a fixed pseudo-random stream per name.
TEST_FILES = {
    "empty.bin": 0,
    "small.bin": 5000,
    "medium.bin": 1_000_003,
    "large.bin": 8 * 1024 * 1024 + 17,
    "exact.bin": 4 * 1024 * 1024,
}
# Sparse file above 4 GiB: zeros except marker blocks; its hash is not
# precomputed (reading 4 GiB takes longer than a fixture may).
HUGE_FILE = "huge.bin"
HUGE_SIZE = 4 * 1024 ** 3 + 1_000_001
HUGE_MARKERS = [0, 2 ** 31 - 7, 2 ** 32 - 3, 2 ** 32 + 65536, HUGE_SIZE - 4096]


def peers_dir(bin_dir):
    return Path(bin_dir).resolve() / "peers"


def log(msg):
    print(f"[peers] {msg}", flush=True)


# ---------------------------------------------------------------- prepare

def run_quiet(cmd, cwd=None):
    res = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if res.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, cmd))} failed:\n{res.stdout}")


def ecdsa_full_width(pem, certs):
    """Whether both halves of the certificate's ECDSA signature are 32 bytes
    long. About one signature in 128 has a shorter r or s; Wine's crypto
    layer does not pad them and refuses the chain, so such a certificate is
    signed again."""
    text = subprocess.run(["openssl", "x509", "-in", pem, "-noout", "-text"], cwd=certs,
                          capture_output=True, text=True, check=True).stdout
    der = bytes.fromhex("".join(c for c in text.rsplit("Signature Value:", 1)[1] if c in "0123456789abcdef"))
    pos, widths = 2, []
    for _ in range(2):
        length = der[pos + 1]
        value = der[pos + 2:pos + 2 + length]
        widths.append(len(value) - (1 if value[:1] == b"\0" else 0))
        pos += 2 + length
    return widths == [32, 32]


def signed_until_full_width(command, pem, certs):
    for _ in range(20):
        run_quiet(command, cwd=certs)
        if ecdsa_full_width(pem, certs):
            return
    raise RuntimeError(f"no full-width signature for {pem} in 20 tries")


def make_certs(certs):
    """Test CA, a server certificate for 127.0.0.1/localhost signed by it, and
    three bad ones: self-signed, wrong host name, expired."""
    if (certs / "done").exists():
        return
    certs.mkdir(parents=True, exist_ok=True)
    ossl = "openssl"
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    signed_until_full_width([ossl, "req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "3650",
                             "-subj", "/CN=Zelvane Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                             "-addext", "keyUsage=critical,keyCertSign,cRLSign"], "ca.pem", certs)
    good_san = "subjectAltName=IP:127.0.0.1,DNS:localhost"
    for name, cn, san in [("server", "127.0.0.1", good_san),
                          ("wronghost", "wrong.invalid", "subjectAltName=DNS:wrong.invalid"),
                          ("expired", "127.0.0.1", good_san)]:
        (certs / f"{name}.ext").write_text(
            f"{san}\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n")
        run_quiet([ossl, "req", *ec, "-keyout", f"{name}.key", "-out", f"{name}.csr",
                   "-subj", f"/CN={cn}"], cwd=certs)
    for name in ["server", "wronghost"]:
        signed_until_full_width([ossl, "x509", "-req", "-in", f"{name}.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                                 "-CAcreateserial", "-days", "3650", "-out", f"{name}.pem",
                                 "-extfile", f"{name}.ext"], f"{name}.pem", certs)
    # An expired certificate needs explicit dates: only "openssl ca" takes them.
    db = certs / "ca-db"
    db.mkdir(exist_ok=True)
    (db / "index.txt").write_text("")
    (db / "serial").write_text("1000\n")
    (certs / "ca.cnf").write_text(
        "[ca]\ndefault_ca=test\n[test]\n"
        f"database={db}/index.txt\nserial={db}/serial\nnew_certs_dir={db}\n"
        f"certificate={certs}/ca.pem\nprivate_key={certs}/ca.key\n"
        "default_md=sha256\npolicy=any\nunique_subject=no\ncopy_extensions=none\n"
        "[any]\ncommonName=supplied\n")
    run_quiet([ossl, "ca", "-batch", "-config", "ca.cnf", "-in", "expired.csr", "-out", "expired.pem",
               "-startdate", "20200101000000Z", "-enddate", "20200201000000Z",
               "-extfile", "expired.ext", "-notext"], cwd=certs)
    run_quiet([ossl, "req", "-x509", *ec, "-keyout", "untrusted.key", "-out", "untrusted.pem",
               "-days", "3650", "-subj", "/CN=127.0.0.1", "-addext", good_san], cwd=certs)
    (certs / "done").write_text("ok\n")


# Code signing: a CA of its own, the vendor's leaf (its subject is the
# publisher the shipped product settings name in STR_PUBLISHER) and a second
# publisher's leaf from the same CA, for an installer signed by someone else.
# RSA keys: every Authenticode verifier takes them.
PRODUCT_SETTINGS = HERE.parent.parent / "resources" / "settings" / "productInfo.ini"
OTHER_PUBLISHER = "Mallory Tools"


def shipped_publisher():
    for line in PRODUCT_SETTINGS.read_bytes().decode("utf-16").splitlines():
        key, _, value = line.strip().partition("=")
        if key == "STR_PUBLISHER" and value:
            return value
    raise RuntimeError(f"no STR_PUBLISHER in {PRODUCT_SETTINGS}")


def make_codesign_certs(certs):
    if (certs / "codesign-done").exists():
        return
    leaves = {"codesign-vendor": shipped_publisher(), "codesign-other": OTHER_PUBLISHER}
    certs.mkdir(parents=True, exist_ok=True)
    rsa = ["-newkey", "rsa:2048", "-nodes", "-sha256"]
    run_quiet(["openssl", "req", "-x509", *rsa, "-keyout", "codesign-ca.key", "-out", "codesign-ca.pem",
               "-days", "3650", "-subj", "/CN=Zelvane Test Code Signing CA",
               "-addext", "basicConstraints=critical,CA:TRUE",
               "-addext", "keyUsage=critical,keyCertSign,cRLSign"], cwd=certs)
    (certs / "codesign.ext").write_text(
        "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    for name, subject in leaves.items():
        run_quiet(["openssl", "req", *rsa, "-keyout", f"{name}.key", "-out", f"{name}.csr",
                   "-subj", f"/CN={subject}"], cwd=certs)
        run_quiet(["openssl", "x509", "-req", "-in", f"{name}.csr", "-CA", "codesign-ca.pem",
                   "-CAkey", "codesign-ca.key", "-CAcreateserial", "-days", "3650", "-sha256",
                   "-out", f"{name}.pem", "-extfile", "codesign.ext"], cwd=certs)
    (certs / "codesign-done").write_text("ok\n")


def prepare_certs(bin_dir):
    """Every certificate of the build tree, once; the build signs with the
    code-signing ones, so it makes them before the test peers run."""
    root = peers_dir(bin_dir)
    root.mkdir(parents=True, exist_ok=True)
    with open(root / ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        make_certs(root / "certs")
        make_codesign_certs(root / "certs")
    return root


def file_bytes(name, size):
    return random.Random(f"zelvane-{name}").randbytes(size)


def make_files(www):
    files = www / "files"
    manifest = www / "manifest.txt"
    if manifest.exists():
        return
    files.mkdir(parents=True, exist_ok=True)
    lines = []
    for name, size in TEST_FILES.items():
        data = file_bytes(name, size)
        (files / name).write_bytes(data)
        lines.append(f"{name} {size} {hashlib.sha256(data).hexdigest()}")
    with open(files / HUGE_FILE, "wb") as f:
        f.truncate(HUGE_SIZE)
        for i, off in enumerate(HUGE_MARKERS):
            f.seek(off)
            f.write(file_bytes(f"huge{i}", min(4096, HUGE_SIZE - off)))
    lines.append(f"{HUGE_FILE} {HUGE_SIZE} -")
    (www / "index.html").write_text("<html><body>zelvane test peer</body></html>\n")
    manifest.write_text("\n".join(lines) + "\n")


def prepare(bin_dir):
    root = prepare_certs(bin_dir)
    with open(root / ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        make_files(root / "www")
    return root


# ---------------------------------------------------------------- ports

def port_free(port):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        s.bind((HOST, port))
        return True
    except OSError:
        return False
    finally:
        s.close()


def pick_ports(service, attempt_from=0):
    for k in range(attempt_from, PORT_TRIES):
        ports = {key: PORT_BASE + off + k * PORT_STEP for key, off in SERVICE_PORTS[service]}
        if all(port_free(p) for p in ports.values()):
            return ports, k
    raise RuntimeError(f"no free ports for {service} near {PORT_BASE}")


def listening(port):
    try:
        with socket.create_connection((HOST, port), timeout=0.2):
            return True
    except OSError:
        return False


# ---------------------------------------------------------------- configs

def nginx_config(run, servers):
    """A whole nginx configuration for one foreground process whose files all
    live in `run`, around the given server blocks."""
    return f"""daemon off;
master_process off;
worker_processes 1;
pid {run}/nginx.pid;
error_log {run}/error.log warn;
events {{ worker_connections 512; }}
http {{
  access_log {run}/access.log;
  client_body_temp_path {run}/tmp-body;
  proxy_temp_path {run}/tmp-proxy;
  fastcgi_temp_path {run}/tmp-fastcgi;
  uwsgi_temp_path {run}/tmp-uwsgi;
  scgi_temp_path {run}/tmp-scgi;
  default_type application/octet-stream;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 30s;
  keepalive_requests 100000;
  max_ranges 1;
{servers}}}
"""


def nginx_conf(root, run, ports):
    certs = root / "certs"
    www = root / "www"
    limits = "\n".join(
        f"    location /rate/{n}/ {{ alias {www}/files/; limit_rate {n}; }}" for n in ["64k", "256k", "1m", "20m"])

    def server(listen, cert=None, main=True):
        ssl = ""
        if cert:
            ssl = (f"    ssl_certificate {certs}/{cert}.pem;\n"
                   f"    ssl_certificate_key {certs}/{cert}.key;\n")
        body = f"""
  server {{
    listen {HOST}:{listen}{' ssl' if cert else ''};
    server_name _;
{ssl}    root {www};
    location /files/ {{ }}
"""
        if main:
            other = f"http://{HOST}:{ports['http']}"
            body += f"""{limits}
    location /redirect/ {{ rewrite ^/redirect/(.*)$ /files/$1 redirect; }}
    location /moved/ {{ rewrite ^/moved/(.*)$ /files/$1 permanent; }}
    location /redirect2/ {{ rewrite ^/redirect2/(.*)$ /redirect/$1 redirect; }}
    location /loop/ {{ rewrite ^ /loop/ redirect; }}
    location /relative/ {{ absolute_redirect off; rewrite ^/relative/(.*)$ /files/$1 redirect; }}
    location /to-http/ {{ rewrite ^/to-http/(.*)$ {other}/files/$1 redirect; }}
    location /chunked/ {{
      alias {www}/files/;
      sub_filter_types *;
      sub_filter_once off;
      sub_filter 'zelvane-never-present' 'x';
    }}
    location /status/404 {{ return 404; }}
    location /status/403 {{ return 403; }}
    location /status/500 {{ return 500; }}
"""
        return body + "  }\n"

    return nginx_config(run, server(ports['http']) + server(ports['https'], 'server') +
                        server(ports['https_untrusted'], 'untrusted', False) +
                        server(ports['https_wronghost'], 'wronghost', False) +
                        server(ports['https_expired'], 'expired', False))


def ensure_system_user(name, password):
    """dante checks SOCKS 5 user names against the system's accounts."""
    try:
        import pwd
        pwd.getpwnam(name)
    except KeyError:
        run_quiet(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", name])
    res = subprocess.run(["chpasswd"], input=f"{name}:{password}\n", text=True,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if res.returncode != 0:
        raise RuntimeError(f"chpasswd failed: {res.stdout}")


def dante_conf(port, method):
    return f"""logoutput: stderr
internal: {HOST} port = {port}
external: {HOST}
clientmethod: none
socksmethod: {method}
user.privileged: root
user.unprivileged: nobody
client pass {{ from: 127.0.0.0/8 to: 0.0.0.0/0 }}
socks pass {{ from: 127.0.0.0/8 to: 127.0.0.0/8 command: connect }}
socks block {{ from: 0.0.0.0/0 to: 0.0.0.0/0 }}
"""


def tinyproxy_conf(run, port, auth):
    conf = f"""Port {port}
Listen {HOST}
Timeout 60
MaxClients 64
Allow 127.0.0.1
LogLevel Warning
DisableViaHeader Yes
"""
    if os.geteuid() == 0:
        conf += "User nobody\nGroup nogroup\n"
    if auth:
        conf += f"BasicAuth {PROXY_USER} {PROXY_PASSWORD}\n"
    return conf


def service_commands(service, root, run, ports):
    """The server processes of one service, as argument lists."""
    if service == "nginx":
        for d in ["tmp-body", "tmp-proxy", "tmp-fastcgi", "tmp-uwsgi", "tmp-scgi"]:
            (run / d).mkdir(exist_ok=True)
        (run / "nginx.conf").write_text(nginx_conf(root, run, ports))
        return [["nginx", "-p", str(run), "-c", str(run / "nginx.conf")]]
    if service == "socks":
        if os.geteuid() == 0:
            ensure_system_user(SOCKS_USER, SOCKS_PASSWORD)
        (run / "danted.conf").write_text(dante_conf(ports["socks"], "none"))
        (run / "danted-auth.conf").write_text(dante_conf(ports["socks_auth"], "username"))
        return [["danted", "-f", str(run / "danted.conf"), "-N", "1", "-p", str(run / "danted.pid")],
                ["danted", "-f", str(run / "danted-auth.conf"), "-N", "1", "-p", str(run / "danted-auth.pid")]]
    if service == "httpproxy":
        (run / "tinyproxy.conf").write_text(tinyproxy_conf(run, ports["proxy"], False))
        (run / "tinyproxy-auth.conf").write_text(tinyproxy_conf(run, ports["proxy_auth"], True))
        return [["tinyproxy", "-d", "-c", str(run / "tinyproxy.conf")],
                ["tinyproxy", "-d", "-c", str(run / "tinyproxy-auth.conf")]]
    if service == "faulty":
        return [[sys.executable, str(HERE / "faultserver.py"), "--root", str(root),
                 "--state", str(run), "--port", str(ports["http"]), "--tls-port", str(ports["https"]),
                 "--socks4a-port", str(ports["socks4a"]), "--socks-fault-ports",
                 *[str(ports[k]) for k in ["socks_fault", "socks_nomethod", "socks_wantauth", "socks_badversion"]]]]
    raise SystemExit(f"unknown service {service}")


# ---------------------------------------------------------------- lifecycle

def pid_alive(pid):
    """True while the process runs; a zombie waiting for its reaper counts as ended."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return False
    return stat.rpartition(")")[2].split()[0] != "Z"


def is_our_supervisor(pid, service, root):
    try:
        cmd = Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")
    except OSError:
        return False
    text = [c.decode(errors="replace") for c in cmd]
    return "supervise" in text and service in text and str(root) in text


def stop(service, bin_dir):
    root = peers_dir(bin_dir)
    run = root / "run" / service
    pid_file = run / "supervisor.pid"
    (root / "run" / f"{service}.env").unlink(missing_ok=True)
    if not pid_file.exists():
        return 0
    pid = int(pid_file.read_text().strip() or 0)
    if pid and is_our_supervisor(pid, service, root):
        os.kill(pid, signal.SIGTERM)
        deadline = time.time() + 5
        while time.time() < deadline and pid_alive(pid):
            time.sleep(0.05)
        if pid_alive(pid):
            os.kill(pid, signal.SIGKILL)
    pid_file.unlink(missing_ok=True)
    log(f"{service} stopped")
    return 0


def start(service, bin_dir):
    root = prepare(bin_dir)
    stop(service, bin_dir)  # a leftover of an interrupted run of this tree
    run = root / "run" / service
    run.mkdir(parents=True, exist_ok=True)
    attempt = 0
    while True:
        ports, attempt = pick_ports(service, attempt)
        cmds = service_commands(service, root, run, ports)
        out = open(run / "output.log", "w")
        sup = subprocess.Popen(
            [sys.executable, str(Path(__file__).resolve()), "supervise", service, str(root), "--",
             *[part for cmd in cmds for part in (cmd + ["\x1f"])]],
            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        (run / "supervisor.pid").write_text(f"{sup.pid}\n")
        deadline = time.time() + 5
        ok = False
        while time.time() < deadline:
            if sup.poll() is not None:
                break
            if all(listening(p) for p in ports.values()):
                ok = True
                break
            time.sleep(0.05)
        if ok:
            env = "".join(f"{k}={v}\n" for k, v in ports.items())
            if service == "socks":
                env += f"user={SOCKS_USER}\npassword={SOCKS_PASSWORD}\n"
            if service == "httpproxy":
                env += f"user={PROXY_USER}\npassword={PROXY_PASSWORD}\n"
            (root / "run" / f"{service}.env").write_text(env)
            log(f"{service} listening on {HOST}: " + ", ".join(f"{k} {v}" for k, v in ports.items()))
            return 0
        stop(service, bin_dir)
        out.close()
        text = (run / "output.log").read_text(errors="replace")
        # Lost a race for a port with another tree: try the next block.
        if ("Address already in use" in text or "in use" in text) and attempt + 1 < PORT_TRIES:
            attempt += 1
            continue
        log(f"{service} did not start:\n{text}")
        return 1


def supervise(service, root, argv):
    cmds, cur = [], []
    for a in argv:
        if a == "\x1f":
            cmds.append(cur)
            cur = []
        else:
            cur.append(a)
    lifetime = float(os.environ.get("ZV_PEER_LIFETIME", "3600"))
    children = [subprocess.Popen(c, stdin=subprocess.DEVNULL) for c in cmds]
    stopping = False

    def on_term(signum, frame):
        nonlocal stopping
        stopping = True

    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGINT, on_term)
    deadline = time.time() + lifetime
    while not stopping and time.time() < deadline and all(c.poll() is None for c in children):
        time.sleep(0.1)
    for c in children:
        if c.poll() is None:
            c.terminate()
    end = time.time() + 1.5
    for c in children:
        try:
            c.wait(timeout=max(0.1, end - time.time()))
        except subprocess.TimeoutExpired:
            c.kill()
            c.wait()
    return 0


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "supervise":
        service, root = sys.argv[2], sys.argv[3]
        return supervise(service, root, sys.argv[5:])
    ap = argparse.ArgumentParser()
    ap.add_argument("action", choices=["start", "stop", "prepare", "certs"])
    ap.add_argument("service", nargs="?")
    ap.add_argument("--bin", required=True)
    a = ap.parse_args()
    if a.action == "prepare":
        prepare(a.bin)
        return 0
    if a.action == "certs":
        prepare_certs(a.bin)
        return 0
    if a.service not in SERVICE_PORTS:
        ap.error(f"service must be one of {', '.join(SERVICE_PORTS)}")
    return start(a.service, a.bin) if a.action == "start" else stop(a.service, a.bin)


if __name__ == "__main__":
    sys.exit(main())
