#!/usr/bin/env bash
# The demonstration: alerts through the plug-ins on their built-in defaults, in a fresh
# registry and notification directory of their own.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default >/dev/null

work=$(mktemp -d /tmp/sentrel-demo-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

export SENTREL_REGISTRY=$work/registry.reg
sentrel=build/bin/sentrel
notify=$work/notify
mkdir -p "$notify"

echo "== Registering the plug-ins into a fresh registry ($SENTREL_REGISTRY)"
$sentrel init
$sentrel register build/plugins/tellumo.so
echo "Notification types:"
$sentrel types

echo
echo "== Syslog: an alert to a receiver on loopback"
build/bin/syslog-receiver --count 1 --timeout 10 --port-file "$work/port" >"$work/received" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
instance="$notify/Router alarms"
printf '[Syslog\\Router alarms]\r\nCLSID={69DD7B00-B669-11D4-804A-0001025EB176}\r\nAddress=127.0.0.1\r\nMessage=%%H is %%V\r\nPort=%s\r\n' \
  "$port" >"$instance"
echo "Instance file \"$instance\":"
tr -d '\r' <"$instance" | sed 's/^/    /'
echo "What Tellumo logged:"
$sentrel notify SysLog "$instance" --var H=router-7 --var V="down since 12:04" | tr -d '\r' | sed 's/^/    /'
wait "${pids[-1]}"
echo "What the receiver got:"
sed 's/^/    /' "$work/received"
