#!/usr/bin/env bash
# The main job: builds the library and the tools (release build), starts two stand-in servers
# on loopback with sample data, and runs the host program against them. The server at
# 127.0.0.2 names 127.0.0.3 as its data server, so the channel that the host opens for a user
# moves there. The host then asks for the settings, the web portal and a machine, and closes
# the channel; the script shows what each server received and the library's trace of the
# calls, and stops the servers.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh

bin=$(pwd)/build/release
server=$bin/tools/kelvane-server
host=$bin/tools/kelvane-host
library=$bin/libkelvane.so
first=127.0.0.2
data=127.0.0.3

if [ "$(id -u)" -ne 0 ] &&
  [ "$(sysctl -n net.ipv4.ip_unprivileged_port_start 2>/dev/null || echo 1024)" -gt 443 ]; then
  echo "The stand-in servers listen on port 443, which needs root or" >&2
  echo "'sysctl net.ipv4.ip_unprivileged_port_start=443'." >&2
  exit 1
fi

work=$(mktemp -d)
pids=()
stop_servers() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  pids=()
}
trap 'stop_servers; rm -rf "$work"' EXIT

# start_server ADDRESS [OPTION...]: starts a server and waits until it listens.
start_server() {
  local address=$1
  shift
  "$server" --address "$address" --demo --print-requests "$@" >"$work/server-$address.txt" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    if grep -q "listening" "$work/server-$address.txt"; then
      return 0
    fi
    if ! kill -0 "${pids[-1]}" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  echo "kelvane-server did not start on $address:" >&2
  cat "$work/server-$address.txt" >&2
  exit 1
}

start_server "$data"
start_server "$first" --data-server "$data"

# The library traces its calls when QV_LOG.INI is in the host's current directory.
printf '[log]\npath=%s/trace\nnotimestamp=1\n' "$work" >"$work/QV_LOG.INI"

echo "== The host opens a channel for the user 'demo' at $first"
(cd "$work" && "$host" --library "$library" \
  open-user "$first" demo demo \
  verify-server \
  set-active-machine "Laptop" \
  machine-info 501 \
  web-portal \
  close)

sleep 0.3
stop_servers
for address in "$first" "$data"; do
  echo
  echo "== What the server at $address received"
  grep -v "listening" "$work/server-$address.txt" || true
done

echo
echo "== The library's trace of the calls"
iconv -f UTF-16LE -t UTF-8 "$work/trace.log" | tr -d '\r' | sed -e '1s/^\xef\xbb\xbf//'
