#!/bin/sh
# Makes the signing keys of the signed-build tests in DIR (made fresh by every build, never
# committed), with openssl itself rather than zvpublish, so that the tests also check the launcher
# against keys and signatures the tool did not make:
#   signing-1.pem, signing-2.pem    keys the signed test launcher trusts (with their .pub.pem)
#   unknown.pem                     a key it does not trust
#   update-keys.pem                 the public keys of signing-1 and signing-2: ZV_UPDATE_PUBLIC_KEYS
#                                   of the signed test launcher; the launchers of a key rotation's
#                                   first and last step are built with signing-1.pub.pem and
#                                   signing-2.pub.pem alone
# Keys already in DIR are kept, and a public key file is written only when its content changes, so
# that a rebuild neither changes the launchers it builds nor configures them again.
set -eu
dir=$1
mkdir -p "$dir"

# Moves FILE.new to FILE when they differ; removes FILE.new otherwise.
replace_if_changed() {
  if ! cmp -s "$1.new" "$1" 2>/dev/null; then
    mv "$1.new" "$1"
  else
    rm "$1.new"
  fi
}

for name in signing-1 signing-2 unknown; do
  if [ ! -f "$dir/$name.pem" ]; then
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$dir/$name.pem" 2>/dev/null
  fi
  openssl pkey -in "$dir/$name.pem" -pubout -out "$dir/$name.pub.pem.new"
  replace_if_changed "$dir/$name.pub.pem"
done
cat "$dir/signing-1.pub.pem" "$dir/signing-2.pub.pem" > "$dir/update-keys.pem.new"
replace_if_changed "$dir/update-keys.pem"
