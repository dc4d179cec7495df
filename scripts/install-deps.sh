#!/bin/sh
# Installs every Debian package the build, the tests and the demo need (as root, Debian 12).
# Packages already present are left alone; apt's lists are refreshed only when something is missing.
set -eu

PACKAGES="
  cmake make g++ clang-format clang lld libclang-rt-14-dev
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  nlohmann-json3-dev googletest libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  python3 python3-pytest openssl curl ca-certificates nginx squid
  fonts-wine fonts-wqy-microhei icoutils xvfb imagemagick
"

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done

if [ -n "$missing" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
