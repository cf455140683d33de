#!/usr/bin/env bash
# The test certificates of the local TLS servers, made once per environment
# folder: testca.sh DIR. Writes into DIR (nothing is overwritten that exists):
#
#   ca.pem ca.key           the test CA every good server certificate ends in
#   server.pem server.key   127.0.0.1 / localhost, signed by the test CA
#   expired.pem expired.key the same names, signed by the test CA, expired in 2020
#   wrong-ca.pem            a second CA that signed none of the servers
#   server.fp-sha1          the server certificate's SHA-1 fingerprint (hex), the database pin
#   server.pin, wrong.pin   sha256//BASE64 of the server's public key, and of another key
#
# Made at start-up, not kept in the tree: certificates age, and a fresh CA
# per environment keeps test keys out of the repository.
set -euo pipefail

dir=${1:?usage: testca.sh DIR}
[ -s "$dir/server.pin" ] && exit 0
mkdir -p "$dir"
cd "$dir"
chmod 755 .

ossl() { openssl "$@" 2>>openssl.log; }

ca() { # ca NAME SUBJECT
  ossl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 3650 -sha256 \
    -subj "/CN=$2" -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
}
ca ca "Orvel test CA"
ca wrong-ca "Orvel wrong test CA"

cat >server.ext <<'EXT'
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,DNS:localhost
EXT

ossl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=127.0.0.1"
ossl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 -sha256 \
  -extfile server.ext -out server.pem

# An expired certificate needs dates in the past, which only `openssl ca` sets.
mkdir -p expired-ca
: >expired-ca/index.txt
cat >expired-ca/ca.cnf <<CNF
[ ca ]
default_ca = test
[ test ]
database = $dir/expired-ca/index.txt
new_certs_dir = $dir/expired-ca
serial = $dir/expired-ca/serial
default_md = sha256
policy = any
copy_extensions = none
[ any ]
commonName = supplied
CNF
echo 1000 >expired-ca/serial
ossl req -newkey rsa:2048 -nodes -keyout expired.key -out expired.csr -subj "/CN=127.0.0.1"
ossl ca -batch -config expired-ca/ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr \
  -startdate 20190101000000Z -enddate 20200101000000Z -extfile server.ext -notext -out expired.pem

fp() { openssl x509 -in "$1" -noout -fingerprint "-$2" | sed 's/^.*=//; s/://g' | tr 'A-F' 'a-f'; }
pin() { # the form libcurl pins: sha256 of the DER public key, base64
  echo "sha256//$(openssl pkey -in "$1" -pubout -outform DER 2>/dev/null | openssl dgst -sha256 -binary | base64)"
}
fp server.pem sha1 >server.fp-sha1
pin wrong-ca.key >wrong.pin
pin server.key >server.pin
chmod 644 ./*.pem ./*.pin ./*.fp-*; chmod 600 ./*.key
rm -f ./*.csr server.ext
