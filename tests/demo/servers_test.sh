#!/usr/bin/env bash
# The demo servers of tools/demo-servers, as the demo build of the installer
# uses them: every address of resources/demo/url.ini answers; the demo
# installer comes whole and in ranges over HTTPS verified with the test CA.
set -uo pipefail
build=${ZV_BINARY_DIR:?}
src=${ZV_SOURCE_DIR:?}
installer=${1:?demo installer exe}
env="$build/peers/run/demo.env"
ca="$build/peers/certs/ca.pem"
fail() { echo "FAIL: $*"; exit 1; }
val() { sed -n "s/^$1=//p" "$env"; }
[ -f "$env" ] || fail "demo servers not running (no $env)"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
c() { curl -sS --max-time 20 --cacert "$ca" "$@"; }

# The address table: same keys as the shipped one, every address local on a demo port.
python3 - "$src" "$(val http)" "$(val https)" <<'PY' || fail "demo address table"
import sys, urllib.parse
sys.path.insert(0, sys.argv[1] + "/tools/demo")
import demo_servers
from pathlib import Path
demo = demo_servers.read_url_table()
shipped = demo_servers.read_url_table(Path(sys.argv[1]) / "resources" / "url.ini")
assert Path(demo_servers.URL_TABLE).read_bytes()[:2] == b"\xff\xfe", "no UTF-16LE byte-order mark"
# The demo table has every address of the shipped one, and the redirect probe's.
assert set(demo["CommonUrl"]) == set(shipped["CommonUrl"]) | {"STR_DOWN_URLEX"}, (demo["CommonUrl"].keys(), shipped["CommonUrl"].keys())
for key, url in demo["CommonUrl"].items():
    u = urllib.parse.urlsplit(url)
    assert u.hostname == "localhost" and str(u.port) in sys.argv[2:], (key, url)
    if key in shipped["CommonUrl"]:
        assert u.path == urllib.parse.urlsplit(shipped["CommonUrl"][key]).path, (key, url)
PY
url=$(python3 -c "import sys; sys.path.insert(0, '$src/tools/demo'); import demo_servers as d; print(d.read_url_table()['CommonUrl']['STR_DOWN_URL'])")
size=$(stat -c %s "$installer")

# Whole file and HEAD size.
c -o "$tmp/whole" "$url" || fail "GET $url"
cmp -s "$tmp/whole" "$installer" || fail "downloaded installer differs from $installer"
len=$(c -I "$url" | tr -d '\r' | sed -n 's/^[Cc]ontent-[Ll]ength: //p')
[ "$len" = "$size" ] || fail "HEAD Content-Length '$len', expected $size"

# Ranges as the engine asks them: open-ended first, then inclusive pieces.
c -D "$tmp/h0" -H "Range: bytes=0-" -o /dev/null "$url" || fail "GET bytes=0-"
grep -qi "^HTTP/1.1 206" "$tmp/h0" || fail "bytes=0- not answered 206"
grep -qi "^Content-Range: bytes 0-$((size - 1))/$size" "$tmp/h0" || fail "bytes=0- Content-Range"
grep -qi "^Connection: keep-alive" "$tmp/h0" || fail "no keep-alive"
for range in "0-0" "1000-1999" "$((size - 17))-$((size - 1))" "$((size / 3))-$((2 * size / 3))"; do
  first=${range%-*}; last=${range#*-}
  c -D "$tmp/h" -H "Range: bytes=$range" -o "$tmp/part" "$url" || fail "GET bytes=$range"
  grep -qi "^Content-Range: bytes $first-$last/$size" "$tmp/h" || fail "Content-Range for $range: $(grep -i content-range "$tmp/h")"
  [ "$(stat -c %s "$tmp/part")" = $((last - first + 1)) ] || fail "bytes $range: wrong length"
  cmp -s -i "$first:0" -n $((last - first + 1)) "$installer" "$tmp/part" || fail "bytes $range differ"
done
code=$(c -o /dev/null -w "%{http_code}" -H "Range: bytes=$((size + 10))-" "$url")
[ "$code" = 416 ] || fail "range past the end answered $code"

# The certificate is checked for real: without the test CA the handshake fails.
curl -sS --max-time 10 -o /dev/null "$url" 2>/dev/null && fail "HTTPS accepted without the test CA"

# Product page host, the extended download address's redirect, plain HTTP.
c "https://127.0.0.1:$(val https)/producturl?key=installed&pid=300531&lang=English" | grep -q "key=installed" ||
  fail "product page"
loc=$(c -D - -o /dev/null "http://127.0.0.1:$(val http)/producturl?key=pkg_url" | tr -d '\r' | sed -n 's/^Location: //p')
[ "$loc" = "http://localhost:$(val http)$(val download_path)" ] || fail "pkg_url redirect to '$loc'"
c -o "$tmp/plain" "$loc" && cmp -s "$tmp/plain" "$installer" || fail "plain HTTP download"
# Over HTTPS the redirect stays on HTTPS.
loc=$(c -D - -o /dev/null "https://127.0.0.1:$(val https)/producturl?key=pkg_url&pid=300531" | tr -d '\r' | sed -n 's/^Location: //p')
[ "$loc" = "https://localhost:$(val https)$(val download_path)" ] || fail "pkg_url redirect over HTTPS to '$loc'"

# Carousel API and analytics collector.
api="https://127.0.0.1:$(val api_https)"
c "$api/downloader/carousel?pid=300531&lang=English" | python3 -c \
  "import json,sys; a=json.load(sys.stdin); assert a['code']==1 and a['data']['list'], a" || fail "carousel answer"
code=$(c -o /dev/null -w "%{http_code}" -H "Content-Type: application/json" -d '{"demo":"servers-test"}' "$api/mp/collect?v=2")
[ "$code" = 204 ] || fail "collect answered $code"
c "$api/control/collected" | grep -q "servers-test" || fail "collected event not recorded"
echo "demo servers: address table, whole file, HEAD, ranges, TLS check, pages, carousel, collector: ok"
