#!/usr/bin/env bash
# The demo of run-demo.sh on the Windows build, under Wine: the two example
# modules in kqbridge-host.exe, stopped with Ctrl-C after a moment, then the
# central log. Wine's private prefix lives under the build directory, and so
# does everything the run writes (the configuration directory is beside
# the prefix's temporary directory, as on Windows).
#   examples/run-demo-windows.sh [build dir]   (default build/windows)
set -euo pipefail

build=$(cd "${1:-build/windows}" && pwd)
bin="$build/bin"
export WINEPREFIX="${WINEPREFIX:-$build/wine}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=

# Wine takes TMP, TEMP and APPDATA from the prefix, not from this shell.
temp=$(wine cmd /c echo %TEMP% | tr -d '\r')
config="$(winepath -u "$temp" | sed 's:/*$::')"
config="$(dirname "$config")/kqbridge-host"
rm -rf "$config"
mkdir -p "$config/conf"
# Level 5 shows the modules' DEBUG lines and the shutdown steps.
printf '#Bridge Config (#note)\nLogLevel : 5\n' >"$config/conf/Admin.conf"

echo "== kqbridge-host.exe --start demo_sensor.dll demo_display.dll (in $bin, under Wine)"
(cd "$bin" && exec wine kqbridge-host.exe --start demo_sensor.dll demo_display.dll) &
pid=$!
sleep 3
# Wine hands SIGINT to the program as the console's Ctrl-C.
kill -INT "$pid"
status=0
wait "$pid" || status=$?

echo
echo "== central log"
cat "$config"/log/Admin*.log
echo
echo "kqbridge-host.exe exited with status $status."
echo "Configuration files: $config/conf/"
echo "Log and trace files: $config/log/"
exit "$status"
