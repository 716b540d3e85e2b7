#!/usr/bin/env bash
# The demonstration: alerts through the plug-ins on their built-in defaults, in a fresh
# registry and notification directory of their own.
set -euo pipefail
cd "$(dirname "$0")/.."

# The build: the first one takes a few minutes, later ones only rebuild what changed. The
# build tool's progress line is shown as it goes (on a terminal in place, otherwise every
# 25th step); its whole output only when it fails.
echo "== Building into build/ (the first build takes a few minutes)"
cmake --preset default >/dev/null
build_log=$(mktemp /tmp/sentrel-build-XXXXXX.log)
show_progress() {
  local line
  while IFS= read -r line; do
    [[ "$line" =~ ^\[([1-9][0-9]*)/([0-9]+)\] ]] || continue
    if [ -t 1 ]; then
      printf '\r\033[K%s' "${line:0:$((${COLUMNS:-80} - 1))}"
    elif [ $((BASH_REMATCH[1] % 25)) = 0 ] || [ "${BASH_REMATCH[1]}" = "${BASH_REMATCH[2]}" ]; then
      echo "${line:0:100}"
    fi
  done
  if [ -t 1 ]; then printf '\r\033[K'; fi
}
if ! cmake --build --preset default 2>&1 | tee "$build_log" | show_progress; then
  cat "$build_log"
  echo "The build failed (its output is above and in $build_log)."
  exit 1
fi
rm -f "$build_log"
echo "Built."

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
$sentrel register build/plugins/revocet.so
$sentrel register build/plugins/parlanza.so
echo "Notification types:"
$sentrel types

echo
echo "== Syslog: an alert to a receiver on loopback"
build/bin/syslog-receiver --count 1 --timeout 10 --port-file "$work/port" >"$work/received" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
instance="$notify/Router alarms"
# Created as the web configuration's new-instance form would post it.
$sentrel apply SysLog --dir "$notify" \
  --form "origname=&instancename=Router+alarms&port=$port&address=127.0.0.1&message=%H+is+%V"
echo "Instance file \"$instance\":"
tr -d '\r' <"$instance" | sed 's/^/    /'
echo "What Tellumo logged:"
$sentrel notify SysLog "$instance" --var H=router-7 --var V="down since 12:04" | tr -d '\r' | sed 's/^/    /'
wait "${pids[-1]}"
echo "What the receiver got:"
sed 's/^/    /' "$work/received"

echo
echo "== Service restart: alerts that start and stop a program of a local supervisord"
sv=$work/supervisor
mkdir -p "$sv"
svport=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
{
  echo "[supervisord]"
  echo "logfile=$sv/supervisord.log"
  echo "pidfile=$sv/supervisord.pid"
  echo "childlogdir=$sv"
  if [ "$(id -u)" = 0 ]; then echo "user=root"; fi
  echo "[inet_http_server]"
  echo "port=127.0.0.1:$svport"
  echo "username=demo"
  echo "password=demo"
  echo "[rpcinterface:supervisor]"
  echo "supervisor.rpcinterface_factory = supervisor.rpcinterface:make_main_rpcinterface"
  echo "[program:webcache]"
  echo "command=/bin/sleep 100000"
  echo "autostart=false"
  echo "autorestart=false"
  echo "startsecs=0"
} >"$sv/supervisord.conf"
supervisord -n -c "$sv/supervisord.conf" >"$sv/out" 2>&1 &
svpid=$!
pids+=($svpid)
ctl="supervisorctl -s http://127.0.0.1:$svport -u demo -p demo"
for _ in $(seq 100); do
  if $ctl pid >/dev/null 2>&1; then break; fi
  sleep 0.1
done
# Where the local machine's supervisord listens, and its credentials, in the registry.
echo demo >"$work/password"
echo "sentrel machine add localhost --port $svport --user demo --password-file $work/password:"
$sentrel machine add localhost --port "$svport" --user demo --password-file "$work/password" |
  sed 's/^/    /'
echo "sentrel machine test localhost (the programs supervisord runs, with their states):"
$sentrel machine test localhost 2>/dev/null | sed 's/^/    /'
for command in Start Stop; do
  instance="$notify/$command web cache"
  printf '[ServiceRestart\\%s web cache]\r\nCLSID={F28C09E9-D135-4E93-AD37-73CCA41E8D2A}\r\nHost=%%H\r\nService=%%V\r\nCommand=%s\r\n' \
    "$command" "$command" >"$instance"
  echo "Instance file \"$instance\":"
  tr -d '\r' <"$instance" | sed 's/^/    /'
  echo "What Revocet logged:"
  $sentrel notify ServiceRestart "$instance" --var H=localhost --var V=webcache | tr -d '\r' | sed 's/^/    /'
  sleep 0.5
  echo "supervisorctl says: $($ctl status webcache || true)"
done
kill "$svpid"
wait "$svpid" 2>/dev/null || true

echo
echo "== Text to speech: an alert spoken by Parlanza"
instance="$notify/Front desk"
printf '[TextSpeech\\Front desk]\r\nCLSID={44440FAF-3359-11D5-8075-00E0295E9283}\r\nSpeakRate=0\r\nVolumnRate=100\r\nMessage1=%%H is down\r\nMessage2=since %%T\r\nNO_OF_MESSAGE_LINES=2\r\n' \
  >"$instance"
echo "Instance file \"$instance\":"
tr -d '\r' <"$instance" | sed 's/^/    /'
# Without a sound device each alert becomes a WAV file in the speech spool folder.
xdg=${XDG_DATA_HOME:-}
if [ -n "${SENTREL_SPEECH_SPOOL:-}" ]; then
  spool=$SENTREL_SPEECH_SPOOL
elif [ "${xdg#/}" != "$xdg" ]; then
  spool=$xdg/sentrel/speech
else
  spool=$HOME/.local/share/sentrel/speech
fi
mkdir -p "$spool"
touch "$work/before-speech"
echo "What Parlanza logged (sentrel waits until the alert has been spoken):"
$sentrel notify TextSpeech "$instance" --var H=printer-7 --var T="nine o'clock" | tr -d '\r' | sed 's/^/    /'
wav=$(find "$spool" -maxdepth 1 -name 'speech-*.wav' -newer "$work/before-speech" | sort | tail -n 1)
if [ -n "$wav" ]; then
  echo "Spoken into $wav ($(soxi -D "$wav" 2>/dev/null || echo '?') seconds of speech)"
else
  echo "Spoken on the sound device"
fi
