#!/usr/bin/env bash
# Asks every test peer one question through curl and checks the answer, so a
# broken fixture shows up here rather than as a puzzling engine failure.
set -u
P=$1/peers
CA=$P/certs/ca.pem
fails=0
passes=0
port() { sed -n "s/^$2=//p" "$P/run/$1.env"; }
sha() { sha256sum | cut -d' ' -f1; }
want_sha() { awk -v n="$1" '$1 == n { print $3 }' "$P/www/manifest.txt"; }
check() { # description expected actual
  if [ "$2" == "$3" ]; then passes=$((passes + 1)); else echo "FAIL $1: expected '$2', got '$3'"; fails=$((fails + 1)); fi
}
c() { curl -s --max-time 10 "$@"; }

H=$(port nginx http); S=$(port nginx https)
check "http body" "$(want_sha large.bin)" "$(c http://127.0.0.1:$H/files/large.bin | sha)"
check "https body" "$(want_sha medium.bin)" "$(c --cacert "$CA" https://localhost:$S/files/medium.bin | sha)"
check "range" "206 100" "$(c -o /dev/null -w '%{http_code} %{size_download}' -r 100-199 http://127.0.0.1:$H/files/medium.bin)"
for k in https_untrusted https_wronghost https_expired; do
  check "$k rejected" "60" "$(c --cacert "$CA" -o /dev/null https://127.0.0.1:$(port nginx $k)/files/small.bin; echo $?)"
done
check "redirect" "$(want_sha small.bin)" "$(c -L http://127.0.0.1:$H/redirect2/small.bin | sha)"
check "chunked" "chunked" "$(c -D - -o /dev/null http://127.0.0.1:$H/chunked/small.bin | tr -d '\r' | sed -n 's/^Transfer-Encoding: //p')"
check "sparse huge size" "$(awk '$1 == "huge.bin" { print $2 }' "$P/www/manifest.txt")" \
  "$(c -I http://127.0.0.1:$H/files/huge.bin | tr -d '\r' | sed -n 's/^Content-Length: //p')"

K=$(port socks socks); KA=$(port socks socks_auth)
check "socks4" "$(want_sha small.bin)" "$(c --socks4 127.0.0.1:$K http://127.0.0.1:$H/files/small.bin | sha)"
check "socks5" "$(want_sha small.bin)" "$(c --socks5-hostname 127.0.0.1:$K --cacert "$CA" https://localhost:$S/files/small.bin | sha)"
check "socks5 user" "$(want_sha small.bin)" \
  "$(c --socks5-hostname 127.0.0.1:$KA --proxy-user "$(port socks user):$(port socks password)" http://127.0.0.1:$H/files/small.bin | sha)"
check "socks5 bad password" "97" "$(c --socks5-hostname 127.0.0.1:$KA --proxy-user x:y -o /dev/null http://127.0.0.1:$H/files/small.bin; echo $?)"

X=$(port httpproxy proxy); XA=$(port httpproxy proxy_auth)
check "connect proxy" "$(want_sha small.bin)" "$(c -p -x http://127.0.0.1:$X --cacert "$CA" https://127.0.0.1:$S/files/small.bin | sha)"
check "connect proxy auth" "$(want_sha small.bin)" \
  "$(c -p -x "http://$(port httpproxy user):$(port httpproxy password)@127.0.0.1:$XA" --cacert "$CA" https://127.0.0.1:$S/files/small.bin | sha)"
check "connect proxy 407" "407" "$(c -p -x http://127.0.0.1:$XA --cacert "$CA" -o /dev/null -w '%{http_connect}' https://127.0.0.1:$S/files/small.bin)"

F=$(port faulty http); FS=$(port faulty https)
check "faulty file" "$(want_sha medium.bin)" "$(c http://127.0.0.1:$F/files/medium.bin | sha)"
check "faulty tls chunked" "$(want_sha medium.bin)" "$(c --cacert "$CA" https://127.0.0.1:$FS/chunked/medium.bin | sha)"
check "faulty reset" "56" "$(c -o /dev/null http://127.0.0.1:$F/reset/small.bin; echo $?)"
check "faulty norange" "200" "$(c -o /dev/null -w '%{http_code}' -r 10-20 http://127.0.0.1:$F/norange/small.bin)"
check "faulty range403" "403" "$(c -o /dev/null -w '%{http_code}' -r 10-20 http://127.0.0.1:$F/range403/small.bin)"
check "faulty loop" "47" "$(c -L --max-redirs 5 -o /dev/null http://127.0.0.1:$F/loop/x; echo $?)"
check "socks4a" "$(want_sha small.bin)" "$(c --socks4a 127.0.0.1:$(port faulty socks4a) http://localhost:$H/files/small.bin | sha)"
c -o /dev/null "http://127.0.0.1:$F/control/changing/small.bin?size=777"
check "changing size" "777" "$(c -o /dev/null -w '%{size_download}' http://127.0.0.1:$F/changing/small.bin)"
c -o /dev/null "http://127.0.0.1:$F/control/changing/small.bin"

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
