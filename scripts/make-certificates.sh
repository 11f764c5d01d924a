#!/usr/bin/env bash
# Makes the product's certificate authority and the service's two server certificates.
# Run once; the PEM certificates and the obfuscated server keys it writes are committed,
# the CA private keys are discarded at the end and never leave the temporary folder.
#
#   bash scripts/make-certificates.sh
#
# Writes Velanto/certs/{RootCA-ECC,RootCA-RSA,Server-ECC,Server-RSA}.pem and
# Velanto/certs/ServerKeys.inc (the two server keys, masked, for the key store).
set -euo pipefail
cd "$(dirname "$0")/.."
out=Velanto/certs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# OpenSSL's "ca" command: fixed validity dates and critical extensions.
mkdir -p "$work/db"
touch "$work/db/index.txt"
echo 1000 > "$work/db/serial"
cat > "$work/openssl.cnf" <<'C'
[ ca ]
default_ca = velanto
[ velanto ]
dir = DB
database = $dir/index.txt
serial = $dir/serial
new_certs_dir = $dir
policy = anything
unique_subject = no
copy_extensions = none
[ anything ]
organizationName = supplied
commonName = supplied
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
O = Kestova
CN = Kestova QvCAPI Velanto Root CA
# Both roots may only vouch for the loopback names, so even a leaked root key cannot mint a
# certificate for another site.
[ root ]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
nameConstraints = critical, permitted;DNS:localhost, permitted;IP:127.0.0.1/255.255.255.255, permitted;IP:0:0:0:0:0:0:0:1/FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF
# The two server certificates differ only in their key usage.
[ ecc_ext ]
basicConstraints = critical, CA:FALSE
subjectAltName = DNS:localhost, IP:127.0.0.1
extendedKeyUsage = critical, serverAuth, clientAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
keyUsage = critical, digitalSignature
[ rsa_ext ]
basicConstraints = critical, CA:FALSE
subjectAltName = DNS:localhost, IP:127.0.0.1
extendedKeyUsage = critical, serverAuth, clientAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
keyUsage = critical, digitalSignature, keyEncipherment
C
sed -i "s|^dir = DB|dir = $work/db|" "$work/openssl.cnf"
dates=(-startdate 20170401000000Z -enddate 20370401000000Z)
ca() { openssl ca -batch -notext -config "$work/openssl.cnf" "$@" 2>/dev/null; }

openssl ecparam -name prime256v1 -genkey -noout -out "$work/ca-ecc.key"
openssl genrsa -out "$work/ca-rsa.key" 4096 2>/dev/null
for kind in ecc rsa; do
  digest=sha256
  [ "$kind" = rsa ] && digest=sha1
  openssl req -new -key "$work/ca-$kind.key" -config "$work/openssl.cnf" -out "$work/ca-$kind.csr"
  ca -selfsign -keyfile "$work/ca-$kind.key" -in "$work/ca-$kind.csr" -extensions root \
     -md "$digest" "${dates[@]}" -out "$out/RootCA-${kind^^}.pem"
done

openssl ecparam -name secp384r1 -genkey -noout -out "$work/server-ecc.key"
openssl genrsa -out "$work/server-rsa.key" 4096 2>/dev/null
for kind in ecc rsa; do
  openssl req -new -key "$work/server-$kind.key" -subj "/O=Kestova/CN=localhost" \
    -out "$work/server-$kind.csr"
  ca -cert "$out/RootCA-${kind^^}.pem" -keyfile "$work/ca-$kind.key" -in "$work/server-$kind.csr" \
     -extensions "${kind}_ext" -md sha256 "${dates[@]}" -out "$out/Server-${kind^^}.pem"
done

# The server keys go into the program masked with a random pad, never as plain PEM text.
python3 - "$work/server-ecc.key" "$work/server-rsa.key" > "$out/ServerKeys.inc" <<'PY'
import os, sys
def pem(path):
    text = open(path, "rb").read()
    start = text.index(b"-----BEGIN")
    return text[start:]
print("// Made by scripts/make-certificates.sh: the two server keys, each masked with its pad.")
for name, path in (("Ecc", sys.argv[1]), ("Rsa", sys.argv[2])):
    key = pem(path)
    pad = os.urandom(len(key))
    masked = bytes(k ^ p for k, p in zip(key, pad))
    for label, data in (("Masked", masked), ("Pad", pad)):
        print(f"const unsigned char kServerKey{name}{label}[] = {{")
        for i in range(0, len(data), 16):
            print("    " + ", ".join(f"0x{b:02x}" for b in data[i:i + 16]) + ",")
        print("};")
PY
echo "Certificates and masked keys written to $out"
