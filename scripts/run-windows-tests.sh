#!/usr/bin/env bash
# Runs the Windows suite under Wine, in the private prefix under the build.
# Wine's own services, when a test program starts them, hold that test's
# output pipe until they end, so the test would seem to run as long as the
# whole suite (and might time out). They are started first, with nothing to
# hold, and a waiting program keeps them alive until the suite is done.
# Run from the source directory after make windows (ctest's windows preset).
set -euo pipefail

build=$(pwd)/build/windows
export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
mkdir -p "$WINEPREFIX"
wine cmd /c exit </dev/null >/dev/null 2>&1
wine "$build/bin/kqbridge-pipe.exe" listen "kqtest-session-$$" </dev/null >/dev/null 2>&1 &
keeper=$!
# Wine hands SIGINT to the program as the console's Ctrl-C.
trap 'kill -INT "$keeper" 2>/dev/null; wait "$keeper" 2>/dev/null || true' EXIT
sleep 2
ctest --preset windows
