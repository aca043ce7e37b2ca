#!/usr/bin/env bash
# Test certificates, made fresh with the openssl command into DIR (no key is ever committed):
# two CAs; the hub's certificate for 127.0.0.1 and one for another address; endpoint
# certificates from the right CA, from the other CA, and one that has expired.
set -euo pipefail
cd "$1"

key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=$1" \
    -keyout "$1.key" -out "$1.csr" 2>/dev/null; }
sign() { # NAME CA DAYS [EXTENSIONS]
    openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days "$3" \
        ${4:+-extfile <(printf 'subjectAltName=%s\n' "$4")} -out "$1.pem" 2>/dev/null
}

for ca in ca other-ca; do
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -subj "/CN=$ca" -keyout "$ca.key" -out "$ca.pem" 2>/dev/null
done
for name in hub misnamed-hub endpoint stranger expired; do key "$name"; done
sign hub ca 2 IP:127.0.0.1
sign misnamed-hub ca 2 IP:192.0.2.1
sign endpoint ca 2
sign stranger other-ca 2
sign expired ca -1
