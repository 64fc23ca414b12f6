#!/bin/sh
# Makes a throwaway certificate authority and a code-signing certificate issued by it, for the
# signing tests: DIR/ca.pem, DIR/signer.pfx and DIR/password.txt (the .pfx file's password).
# Nothing of it is secret or kept: every build of the tests makes new ones.
# Usage: make_test_certificate.sh DIR
set -eu
dir=$1
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=brevlo test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
  -subj "/CN=brevlo test publisher" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
  -extfile signer.ext -out signer.pem 2>/dev/null
printf 'throwaway password\n' >password.txt
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem \
  -passout file:password.txt -out signer.pfx
rm -f ca.key signer.key signer.csr signer.ext ca.srl
