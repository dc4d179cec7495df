#!/bin/sh
# Starts or stops the unit tests' loopback test servers in DIR (the certificates must already be
# in DIR/certs, made by make_certs.sh):
#   test_server.sh start DIR   a fresh DIR/root, routes and log; then two servers:
#                                trusted    HTTPS + plain HTTP, certificate from the test CA,
#                                           DIR/ready.json, DIR/routes.json, DIR/log.jsonl
#                                untrusted  HTTPS with the untrusted certificate,
#                                           DIR/untrusted/ready.json, DIR/untrusted/log.jsonl
#                              then, with the trusted certificate, one server for each set of TLS
#                              versions in TLS_OFFERS, offering only those:
#                                           DIR/tls-V/ready.json, DIR/tls-V/log.jsonl
#                              all serving DIR/root
#   test_server.sh stop DIR    stops them all
set -eu
action=$1
dir=$2
here=$(cd "$(dirname "$0")" && pwd)
# Older versions only (a client must refuse them), and TLS 1.2 alone (a client must accept it).
TLS_OFFERS="1.0-1.1 1.2"

alive() {  # alive PID: running, not merely a zombie waiting for whoever adopted it to reap it
  state=$(ps -o stat= -p "$1" 2>/dev/null) && [ "${state#Z}" = "$state" ]
}

start_one() {  # start_one STATE_DIR CERT_NAME [extra arguments]
  state=$1
  cert=$2
  shift 2
  mkdir -p "$state"
  rm -f "$state/ready.json" "$state/log.jsonl" "$state/routes.json"
  # Detached, with its output in a file: ctest must not wait for the server's pipes.
  setsid "$here/zvserver.py" --root "$dir/root" --cert "$dir/certs/$cert.pem" --key "$dir/certs/$cert.key" \
    --routes "$state/routes.json" --log "$state/log.jsonl" --ready-file "$state/ready.json" "$@" \
    </dev/null >"$state/server.out" 2>&1 &
  echo $!
}

wait_ready() {  # wait_ready STATE_DIR PID
  tries=0
  while [ ! -s "$1/ready.json" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! alive "$2"; then
      echo "test server did not start; its output:" >&2
      cat "$1/server.out" >&2
      exit 1
    fi
    sleep 0.1
  done
  cat "$1/ready.json"
}

stop_one() {  # stop_one STATE_DIR
  [ -f "$1/ready.json" ] || return 0
  pid=$(sed -n 's/.*"pid": *\([0-9]*\).*/\1/p' "$1/ready.json")
  rm -f "$1/ready.json"
  [ -n "$pid" ] || return 0
  # A ready file left by a server that died long ago may name some other process by now.
  ps -o args= -p "$pid" 2>/dev/null | grep -q zvserver.py || return 0
  kill "$pid" 2>/dev/null || return 0
  tries=0
  while alive "$pid" && [ $tries -lt 50 ]; do
    tries=$((tries + 1))
    sleep 0.1
  done
}

case "$action" in
  start)
    stop_one "$dir"
    stop_one "$dir/untrusted"
    for versions in $TLS_OFFERS; do
      stop_one "$dir/tls-$versions"
    done
    rm -rf "$dir/root"
    mkdir -p "$dir/root"
    trusted=$(start_one "$dir" server --plain-port 0)
    untrusted=$(start_one "$dir/untrusted" untrusted-server)
    offers=
    for versions in $TLS_OFFERS; do
      offers="$offers $versions:$(start_one "$dir/tls-$versions" server --tls "$versions")"
    done
    wait_ready "$dir" "$trusted"
    wait_ready "$dir/untrusted" "$untrusted"
    for offer in $offers; do
      wait_ready "$dir/tls-${offer%%:*}" "${offer#*:}"
    done
    ;;
  stop)
    stop_one "$dir"
    stop_one "$dir/untrusted"
    for versions in $TLS_OFFERS; do
      stop_one "$dir/tls-$versions"
    done
    ;;
  *)
    echo "usage: test_server.sh start|stop DIR" >&2
    exit 2
    ;;
esac
