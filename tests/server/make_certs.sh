#!/bin/sh
# Makes the test certificates in DIR (created if missing; files there are replaced):
#   ca.pem, ca.der                  the test CA, which a test Wine prefix trusts
#   server.pem, server.key          localhost's certificate from that CA (DNS:localhost, IP:127.0.0.1)
#   untrusted-ca.pem, untrusted-ca.der, untrusted-server.pem, untrusted-server.key
#                                   the same again from a second CA that nothing trusts
# RSA keys: Wine's certificate chain checks handle them everywhere.
set -eu
if [ $# -ne 1 ]; then
  echo "usage: make_certs.sh DIR" >&2
  exit 2
fi
dir=$1
mkdir -p "$dir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_pair() {  # make_pair PREFIX "CA common name"
  prefix=$1
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 \
    -keyout "$work/$prefix-ca.key" -out "$work/$prefix-ca.pem" -subj "/CN=$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    2>/dev/null
  openssl x509 -in "$work/$prefix-ca.pem" -outform DER -out "$work/$prefix-ca.der"
  openssl req -new -newkey rsa:2048 -nodes -sha256 -keyout "$work/$prefix-server.key" \
    -out "$work/$prefix-server.csr" -subj "/CN=localhost" 2>/dev/null
  cat >"$work/$prefix-server.ext" <<EXT
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1
EXT
  openssl x509 -req -sha256 -days 30 -in "$work/$prefix-server.csr" \
    -CA "$work/$prefix-ca.pem" -CAkey "$work/$prefix-ca.key" -CAcreateserial \
    -extfile "$work/$prefix-server.ext" -out "$work/$prefix-server.pem" 2>/dev/null
}

make_pair trusted "Zarnovelle Test CA"
make_pair untrusted "Zarnovelle Untrusted Test CA"

# The CA keys stay behind in the temporary folder: nothing may sign with them later.
for name in ca.pem ca.der server.pem server.key; do
  mv "$work/trusted-$name" "$dir/$name"
  mv "$work/untrusted-$name" "$dir/untrusted-$name"
done
echo "test certificates ready: $dir"
