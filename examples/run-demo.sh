#!/usr/bin/env bash
# Runs the two example modules in kqbridge-host, stops the host after a moment
# and prints the central log. Everything the run writes stays under
# <build dir>/demo.
#   examples/run-demo.sh [build dir] [host] [module dir]
# (default build/default, its tools/kqbridge-host and its examples/)
set -euo pipefail

build=$(cd "${1:-build/default}" && pwd)
host="${2:-$build/tools/kqbridge-host}"
modules=$(cd "${3:-$build/examples}" && pwd)
sandbox="$build/demo"
config="$sandbox/kqbridge-host"  # in the data folder, named after the host

rm -rf "$sandbox"
mkdir -p "$sandbox/tmp" "$sandbox/home" "$sandbox/appdata" "$config/conf"
# Level 5 shows the modules' DEBUG lines and the shutdown steps.
printf '#Bridge Config (#note)\nLogLevel : 5\n' >"$config/conf/Admin.conf"
export TMPDIR="$sandbox/tmp" TMP="$sandbox/tmp" TEMP="$sandbox/tmp"
export HOMEPATH="$sandbox/home" APPDATA="$sandbox/appdata" XDG_DATA_HOME="$sandbox"

echo "== kqbridge-host --start demo_sensor.dll demo_display.dll (in $modules)"
(cd "$modules" && exec "$host" --start demo_sensor.dll demo_display.dll) &
pid=$!
sleep 2
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
exit "$status"
