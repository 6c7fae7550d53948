#!/usr/bin/env bash
# Regenerates the TLS material of the downloads tests: a test CA and a server
# certificate for 127.0.0.1 and localhost signed by it, valid for 100 years.
# Test-only; the product trusts only the system's certificates.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 36500 -subj "/CN=VK61 downloads test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout "$tmp/ca.key" -out test_ca.pem
openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout server_key.pem -out "$tmp/server.csr"
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
  "extendedKeyUsage=serverAuth" "subjectAltName=IP:127.0.0.1,DNS:localhost" > "$tmp/ext.cnf"
openssl x509 -req -in "$tmp/server.csr" -CA test_ca.pem -CAkey "$tmp/ca.key" -set_serial "0x$(openssl rand -hex 8)" \
  -days 36500 -extfile "$tmp/ext.cnf" -out server_cert.pem
