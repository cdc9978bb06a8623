#!/usr/bin/env bash
# A module from one compiler in a host and library from the other: the
# library and kqbridge-host are built with g++ and installed into a fresh
# prefix, the example modules are built against that prefix alone with
# clang++, and the demo runs (data bus listener, message with a Value answer,
# channel fed from a pool job); then the same with the compilers swapped.
#   scripts/compiler-mix-check.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mix() {
  local host_cxx=$1 host_cc=$2 module_cxx=$3
  local lib="$work/$host_cxx" mods="$work/$host_cxx-$module_cxx"
  echo "== library and host with $host_cxx, example modules with $module_cxx"
  cmake -S "$root" -B "$lib/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQ_BUILD_TESTS=OFF \
    -DCMAKE_CXX_COMPILER="$host_cxx" -DCMAKE_C_COMPILER="$host_cc" -DCMAKE_INSTALL_PREFIX="$lib/prefix" >/dev/null
  cmake --build "$lib/build" --target install >/dev/null
  mkdir -p "$mods"
  cat >"$mods/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.22)
project(demo_modules CXX)
find_package(kqBridge REQUIRED)
kqbridge_add_module(demo_sensor SOURCES $root/examples/sensor.cpp)
kqbridge_add_module(demo_display SOURCES $root/examples/display.cpp)
CMAKE
  cmake -S "$mods" -B "$mods/build" -G Ninja -DCMAKE_CXX_COMPILER="$module_cxx" -DCMAKE_PREFIX_PATH="$lib/prefix" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF >/dev/null
  cmake --build "$mods/build" >/dev/null
  local out status=0
  out=$("$root/examples/run-demo.sh" "$mods" "$lib/prefix/bin/kqbridge-host" "$mods/build" 2>&1) || status=$?
  for line in "sensor: display answered 'shown'" "display: demo.temperature is now 21.5" "display: end of readings"; do
    if ((status != 0)) || ! grep -qF "$line" <<<"$out"; then
      echo "$out"
      echo "compiler-mix-check: modules from $module_cxx did not run in the $host_cxx host (status $status)" >&2
      exit 1
    fi
  done
  echo "compiler-mix-check: modules from $module_cxx ran in the $host_cxx host and library"
}

mix g++ gcc clang++
mix clang++ clang g++
