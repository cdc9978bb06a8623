#!/usr/bin/env bash
# Two hosts as nodes of one MQTT 5 broker: "line" runs the sensor, "control"
# the display, each beside remote.dll. The sensor greets the display across
# the broker, its temperature reaches the display's listener as a mirrored
# key, and the display's listener calls the sensor back. A private broker is
# started on a free local port; everything stays under <build dir>/demo-remote.
# Given a Windows build, the control node is its kqbridge-host.exe under Wine
# (whose files are beside the temporary folder of Wine's prefix, as on Windows).
#   examples/run-demo-remote.sh [build dir] [windows build dir]   (default build/default)
set -euo pipefail

build=$(cd "${1:-build/default}" && pwd)
windows=""
[[ -n ${2:-} ]] && windows=$(cd "$2" && pwd)
host="$build/tools/kqbridge-host"
sandbox="$build/demo-remote"
rm -rf "$sandbox"
mkdir -p "$sandbox"
if [[ -n $windows ]]; then
  export WINEPREFIX="${WINEPREFIX:-$windows/wine}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
  wine_temp=$(wine cmd /c echo %TEMP% | tr -d '\r')
  wine_config="$(dirname "$(winepath -u "$wine_temp" | sed 's:/*$::')")/kqbridge-host"
fi

declare -A hosts=()
broker_pid=""
cleanup() {
  for pid in "${hosts[@]}" $broker_pid; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# A port nobody listens on; the broker's own start is the real test.
for attempt in $(seq 1 20); do
  port=$((20000 + RANDOM % 40000))
  listening "$port" && continue
  printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nuser %s\n' \
    "$port" "$(id -un)" >"$sandbox/broker.conf"
  mosquitto -c "$sandbox/broker.conf" >"$sandbox/broker.log" 2>&1 &
  broker_pid=$!
  for _ in $(seq 1 50); do
    listening "$port" && break
    kill -0 "$broker_pid" 2>/dev/null || break
    sleep 0.1
  done
  listening "$port" && break
  broker_pid=""
done
[[ -n $broker_pid ]] || { echo "could not start mosquitto on a free port" >&2; exit 1; }
echo "== mosquitto on 127.0.0.1:$port"

# One configuration directory per node, named after the host program.
on_wine() { [[ -n $windows && $1 == control ]]; }
node_dir() {
  if on_wine "$1"; then echo "$wine_config"; else echo "$sandbox/$1/kqbridge-host"; fi
}
start_node() {
  local node=$1 module=$2 conf=$3 dir
  dir=$(node_dir "$node")
  rm -rf "$dir"
  mkdir -p "$dir/conf" "$sandbox/$node/tmp"
  # Level 5 shows the modules' DEBUG lines.
  printf '#Bridge Config (#note)\nLogLevel : 5\n' >"$dir/conf/Admin.conf"
  printf '#Bridge Config (#note)\n%s' "$conf" >"$dir/conf/remote.conf"
  echo "== node $node$(on_wine "$node" && echo ' (Windows, under Wine)'): $dir/conf/remote.conf"
  sed 's/^/   /' "$dir/conf/remote.conf"
  if on_wine "$node"; then
    (cd "$windows/bin" && exec wine kqbridge-host.exe --start remote.dll "$module") >"$sandbox/$node.out" 2>&1 &
  else
    (cd "$build" && TMPDIR="$sandbox/$node/tmp" HOMEPATH="$sandbox/$node" APPDATA="$sandbox/$node" \
      XDG_DATA_HOME="$sandbox/$node" exec "$host" --start src/remote/remote.dll "examples/$module") \
      >"$sandbox/$node.out" 2>&1 &
  fi
  hosts[$node]=$!
}
# Stops a node's host and waits for it; false unless it ended with status 0.
# Wine hands SIGINT to the program as the console's Ctrl-C.
stop_node() {
  local pid=${hosts[$1]}
  unset "hosts[$1]"
  if on_wine "$1"; then kill -INT "$pid"; else kill -TERM "$pid"; fi
  wait "$pid"
}
central_log() { cat "$(node_dir "$1")"/log/Admin*.log 2>/dev/null || true; }
wait_log() {
  local node=$1 text=$2
  for _ in $(seq 1 300); do
    central_log "$node" | grep -q "$text" && return 0
    sleep 0.1
  done
  echo "node $node never logged: $text" >&2
  return 1
}

broker="mqtt://127.0.0.1:$port"
start_node control demo_display.dll \
  "Broker : $broker
Node : control
Export : display
Import : sensor@line
Keys : demo.*
"
wait_log control "connected to broker"
start_node line demo_sensor.dll \
  "Broker : $broker
Node : line
Export : sensor
Import : display@control
Keys : demo.*
"
status=0
wait_log line "sensor: display answered 'shown'" || status=1
wait_log control "display: demo.temperature is now 21.5" || status=1
wait_log control "display: sensor answered 'sensor here'" || status=1
# The line goes first: the control node sees it leave.
stop_node line || status=1
wait_log control "node 'line' is offline" || status=1
stop_node control || status=1

for node in line control; do
  echo
  echo "== node $node, central log (remote, sensor and display lines)"
  central_log "$node" | grep -E '"(remote|sensor|display):' | sed 's/^/   /'
done
echo
if [[ $status -eq 0 ]]; then
  echo "A call each way and a mirrored key went through the broker. Files: $sandbox"
else
  echo "The demo did not complete; the hosts' output is in $sandbox/*.out" >&2
fi
exit "$status"
