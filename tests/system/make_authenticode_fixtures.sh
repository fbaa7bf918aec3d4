#!/usr/bin/env bash
# make_authenticode_fixtures.sh OUT: a tiny Windows executable and the
# signatures the Authenticode tests judge, made fresh with openssl and
# osslsigncode (keys live only in OUT):
#   ca.pem            the trusted code-signing root
#   unsigned.exe      the executable as built (PE32+)
#   signed32.exe      its headers rewritten as PE32, as 32-bit installers have
#                     them, signed as signed.exe
#   signed.exe        signed by "Zelvane Test Publisher" (SHA-256), chain to ca.pem
#   tampered.exe      signed.exe with one code byte changed, same size
#   sha1.exe          signed as signed.exe but with SHA-1
#   other.exe         signed by "Other Publisher" of the same CA
#   rogue.exe         signed by a "Zelvane Test Publisher" of another CA, which
#                     the signature carries
#   noeku.exe         signed by a certificate of ca.pem without code signing use
#   selfsigned.exe    signed by a self-signed "Zelvane Test Publisher" without
#                     code signing use (trusted as selfsigned.pem)
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

# PE32: the optional header loses 16 bytes (4-byte image base and stack and
# heap sizes, BaseOfData added); the section table moves up, the raw data stays.
python3 - unsigned.exe unsigned32.exe <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
pe = struct.unpack_from('<I', data, 0x3C)[0]
opt = pe + 24
opt_size = struct.unpack_from('<H', data, pe + 20)[0]
sections = struct.unpack_from('<H', data, pe + 6)[0]
headers_end = opt + opt_size + 40 * sections
old = data[opt:opt + opt_size]
assert struct.unpack_from('<H', old, 0)[0] == 0x20b
low32 = lambda at: struct.unpack_from('<Q', old, at)[0] & 0xFFFFFFFF
new = (old[0:24] + struct.pack('<II', 0, low32(24)) + old[32:72] +
       struct.pack('<4I', *[low32(72 + 8 * i) for i in range(4)]) + old[104:])
struct.pack_into('<H', new, 0, 0x10b)
data[opt:headers_end] = new + data[opt + opt_size:headers_end] + bytes(16)
struct.pack_into('<H', data, pe + 4, 0x14c)  # i386
struct.pack_into('<H', data, pe + 20, opt_size - 16)
open(sys.argv[2], 'wb').write(data)
PY

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
ec selfsigned.key
openssl req -x509 -new -key selfsigned.key -subj "/CN=Zelvane Test Publisher" -days 30 -out selfsigned.pem \
  -addext keyUsage=critical,digitalSignature,keyCertSign 2>/dev/null

sign signed leaf.pem leaf.key sha256
osslsigncode sign -certs leaf.pem -key leaf.key -h sha256 -in unsigned32.exe -out signed32.exe >/dev/null
sign sha1 leaf.pem leaf.key sha1
sign other other.pem other.key sha256
sign noeku noeku.pem noeku.key sha256
sign rogue rogue-chain.pem rogue.key sha256
sign utf8 utf8.pem utf8.key sha256
sign selfsigned selfsigned.pem selfsigned.key sha256

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
osslsigncode verify -CAfile ca.pem -in signed32.exe >/dev/null
if osslsigncode verify -CAfile ca.pem -in tampered.exe >/dev/null 2>&1; then
  echo "tampered.exe still verifies" >&2
  exit 1
fi
rm -f ./*.csr ./*.ext ./*.srl tiny.c unsigned32.exe
echo "authenticode fixtures in $out"
