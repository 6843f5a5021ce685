#!/usr/bin/env bash
# scripts/demo on a port that something else holds: the host cannot bind it and stops, and the
# demo must say so with the host's own message and a non-zero status, without claiming to run.
#   demo_port_in_use_test.sh SOURCE_DIR BUILD_DIR
# Exits 77 (skipped) when no program here can hold a port open.
set -euo pipefail
source_dir=$1
build_dir=$2

work=$(mktemp -d /tmp/countermate-demo-test.XXXXXX)
holder_pid=""
cleanup() {
  if [ -n "$holder_pid" ]; then kill "$holder_pid" 2>/dev/null || true; wait "$holder_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Listens on a free loopback port without ever accepting, and writes the port to $1.
hold_a_port() {
  if command -v python3 >/dev/null; then
    python3 -c 'import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen()
open(sys.argv[1], "w").write("%d\n" % s.getsockname()[1])
time.sleep(600)' "$1" &
  elif command -v node >/dev/null; then
    node -e 'const server = require("net").createServer();
server.listen(0, "127.0.0.1", () => require("fs").writeFileSync(process.argv[1], server.address().port + "\n"));' "$1" &
  else
    echo "neither python3 nor node is here to hold a port"; exit 77
  fi
  holder_pid=$!
}

mkfifo "$work/port"
hold_a_port "$work/port"
read -r -t 20 port < "$work/port" || { echo "the port holder did not start"; exit 1; }

status=0
COUNTERMATE_DEMO_NO_BUILD=1 COUNTERMATE_BUILD_DIR="$build_dir" \
  timeout 90 "$source_dir/scripts/demo" --port "$port" >"$work/demo.out" 2>&1 || status=$?
cat "$work/demo.out"

failures=0
expect() { # description, condition...
  local description=$1; shift
  if ! "$@"; then echo "FAILED: $description"; failures=$((failures + 1)); fi
}
contains() { grep -qF -- "$1" "$work/demo.out"; }
expect "the demo exits non-zero (got $status)" test "$status" -ne 0
expect "the demo ends by itself, not by the time limit" test "$status" -ne 124
expect "the host's bind failure is shown" contains "bind"
expect "the host's own stop message is shown" contains "the service stopped by itself"
expect "the demo names the host's stop" contains "demo: countermate-host stopped by itself"
expect "the demo does not claim that CounterMate runs" bash -c "! grep -qF 'answered after' '$work/demo.out'"
[ "$failures" -eq 0 ]
