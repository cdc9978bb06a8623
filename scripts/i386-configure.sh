#!/usr/bin/env bash
# Configures the i386 build (build/i386) and says how its programs will run.
#   scripts/i386-configure.sh [auto|native|qemu]
# auto (the default) runs them natively when this kernel executes i386
# programs and through qemu-i386 when it does not (a kernel built without
# 32-bit support answers "Exec format error"); native and qemu force a choice.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/i386"
mode=${1:-auto}

runs_natively() {
  local probe="$build/probe"
  mkdir -p "$build"
  echo 'int main(void) { return 0; }' | g++ -m32 -x c++ - -o "$probe" && "$probe" 2>/dev/null
}

case "$mode" in
  auto)
    if runs_natively; then mode=native; else mode=qemu; fi ;;
  native | qemu) ;;
  *)
    echo "i386-configure: unknown runner '$mode' (auto, native or qemu)" >&2
    exit 2 ;;
esac

emulator=""
if [[ $mode == qemu ]]; then
  emulator=$(command -v qemu-i386 || true)
  if [[ -z $emulator ]]; then
    echo "i386-configure: qemu-i386 not found (scripts/install-deps.sh --i386 installs qemu-user)" >&2
    exit 1
  fi
  echo "i386: the test programs run through $emulator"
else
  echo "i386: the test programs run natively"
fi

# The emulator decides whether CMake cross-compiles, which only a fresh
# configuration takes up: a build made the other way starts over.
stamp="$build/runner"
if [[ -f $stamp && $(cat "$stamp") != "$mode" ]]; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
mkdir -p "$build"
echo "$mode" >"$stamp"
cmake --preset i386 -DKQ_I386_EMULATOR="$emulator"
