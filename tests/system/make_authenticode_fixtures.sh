#!/usr/bin/env bash
# make_authenticode_fixtures.sh OUT: a tiny Windows executable and the
# signatures the Authenticode tests judge, made fresh with openssl and
# osslsigncode (keys live only in OUT):
#   ca.pem            the trusted code-signing root
#   unsigned.exe      the executable as built
#   signed.exe        signed by "Zelvane Test Publisher" (SHA-256), chain to ca.pem
#   tampered.exe      signed.exe with one code byte changed, same size
#   sha1.exe          signed as signed.exe but with SHA-1
#   other.exe         signed by "Other Publisher" of the same CA
#   rogue.exe         signed by a "Zelvane Test Publisher" of another CA, which
#                     the signature carries
#   noeku.exe         signed by a certificate of ca.pem without code signing use
#   utf8.exe          signed by "Zelvane Éditions" (UTF-8 name) of ca.pem
#   leaf.pem          the certificate of signed.exe
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out"
cd "$out"

cat > tiny.c <<'EOF'
int start(void) { return 0; }
EOF
x86_64-w64-mingw32-gcc -nostdlib -s -Os -Wl,--entry=start -o unsigned.exe tiny.c

ec() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }

# ca NAME SUBJECT: a self-signed CA
ca() {
  ec "$1.key"
  openssl req -x509 -new -key "$1.key" -subj "$2" -days 3650 -out "$1.pem" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}

# leaf NAME CA SUBJECT EKU: a certificate of CA valid for 30 days
leaf() {
  ec "$1.key"
  openssl req -new -utf8 -key "$1.key" -subj "$3" -out "$1.csr" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$4" > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 30 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}

# sign NAME CERTS KEY DIGEST
sign() {
  osslsigncode sign -certs "$2" -key "$3" -h "$4" -n "Zelvane test" -in unsigned.exe -out "$1.exe" >/dev/null
}

ca ca "/CN=Zelvane Test Code Signing CA"
ca rogueca "/CN=Zelvane Test Code Signing CA"
leaf leaf ca "/O=Zelvane Test/CN=Zelvane Test Publisher" codeSigning
leaf other ca "/O=Zelvane Test/CN=Other Publisher" codeSigning
leaf noeku ca "/CN=Zelvane Test Publisher" emailProtection
leaf rogue rogueca "/CN=Zelvane Test Publisher" codeSigning
leaf utf8 ca "/CN=Zelvane Éditions" codeSigning
cat rogue.pem rogueca.pem > rogue-chain.pem

sign signed leaf.pem leaf.key sha256
sign sha1 leaf.pem leaf.key sha1
sign other other.pem other.key sha256
sign noeku noeku.pem noeku.key sha256
sign rogue rogue-chain.pem rogue.key sha256
sign utf8 utf8.pem utf8.key sha256

# One byte of the first section's code, well before the certificate table.
cp signed.exe tampered.exe
python3 - tampered.exe <<'EOF'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
pe = struct.unpack_from('<I', data, 0x3C)[0]
sections = pe + 24 + struct.unpack_from('<H', data, pe + 20)[0]
raw = struct.unpack_from('<I', data, sections + 20)[0]
data[raw] ^= 0x01
open(path, 'wb').write(data)
EOF

# The fixtures are what they claim in the eyes of an independent verifier.
osslsigncode verify -CAfile ca.pem -in signed.exe >/dev/null
if osslsigncode verify -CAfile ca.pem -in tampered.exe >/dev/null 2>&1; then
  echo "tampered.exe still verifies" >&2
  exit 1
fi
rm -f ./*.csr ./*.ext ./*.srl tiny.c
echo "authenticode fixtures in $out"
