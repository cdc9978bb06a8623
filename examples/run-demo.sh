#!/usr/bin/env bash
# Runs the two example modules in kqbridge-host, looks inside it with
# kqbridge-ctl (found beside the host), stops the host after a moment, and
# prints the central log and, last, what `kqbridge-ctl status` showed while
# the host ran. Everything the run writes stays under <build dir>/demo.
#   examples/run-demo.sh [build dir] [host] [module dir]
# (default build/default, its tools/kqbridge-host and its examples/)
set -euo pipefail

build=$(cd "${1:-build/default}" && pwd)
host="${2:-$build/tools/kqbridge-host}"
ctl="$(dirname "$host")/kqbridge-ctl"
modules=$(cd "${3:-$build/examples}" && pwd)
sandbox="$build/demo"
config="$sandbox/kqbridge-host"  # in the data folder, named after the host

rm -rf "$sandbox"
mkdir -p "$sandbox/tmp" "$sandbox/home" "$sandbox/appdata" "$config/conf"
mkdir -m 700 "$sandbox/run"
# Level 5 shows the modules' DEBUG lines and the shutdown steps.
printf '#Bridge Config (#note)\nLogLevel : 5\n' >"$config/conf/Admin.conf"
export TMPDIR="$sandbox/tmp" TMP="$sandbox/tmp" TEMP="$sandbox/tmp"
export HOMEPATH="$sandbox/home" APPDATA="$sandbox/appdata" XDG_DATA_HOME="$sandbox"
# The host's admin pipe, where kqbridge-ctl finds it.
export XDG_RUNTIME_DIR="$sandbox/run"

echo "== kqbridge-host --start demo_sensor.dll demo_display.dll (in $modules)"
(cd "$modules" && exec "$host" --start demo_sensor.dll demo_display.dll) &
pid=$!
sleep 2
seen=$("$ctl" status "$pid" 2>&1) || seen="kqbridge-ctl could not see the host: $seen"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?

echo
echo "== central log"
cat "$config"/log/Admin*.log
echo
echo "kqbridge-host exited with status $status."
echo "Configuration files: $config/conf/"
echo "Log and trace files: $config/log/"
echo
echo "== kqbridge-ctl status $pid (while the host ran)"
echo "$seen"
exit "$status"
