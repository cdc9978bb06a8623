#!/usr/bin/env bash
# Checks what `make package` made: the three packages and their dependencies,
# then unpacks them with dpkg -x into a fresh root and builds README's hello
# module against that tree alone (with the CMake package and with
# kqbridge.pc), runs it in the unpacked kqbridge-host and looks inside that
# host with the unpacked kqbridge-ctl.
#   scripts/package-check.sh [package build dir]   (default build/package)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/package}" && pwd)
abi=$(sed -n 's/^#define KQ_ABI_VERSION \([0-9]*\)$/\1/p' "$root/include/kqbridge/module_stamp.h")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "package-check: $*" >&2
  exit 1
}

# The one package of `name` in the build directory.
deb() {
  local found=("$build/$1"_*.deb)
  [[ ${#found[@]} -eq 1 && -f ${found[0]} ]] || fail "expected one $1_*.deb in $build"
  echo "${found[0]}"
}
runtime=$(deb "libkqbridge-vs$abi")
dev=$(deb libkqbridge-vs-dev)
tools=$(deb kqbridge-tools)
version=$(dpkg-deb -f "$runtime" Version)
for p in "$runtime" "$dev" "$tools"; do echo "$(dpkg-deb -f "$p" Package): $(dpkg-deb -f "$p" Depends)"; done
dpkg-deb -f "$runtime" Depends | grep -q 'libavutil[0-9]' || fail "the library does not depend on libavutil"
for p in "$dev" "$tools"; do
  dpkg-deb -f "$p" Depends | grep -qF "libkqbridge-vs$abi (= $version)" || fail "$p does not depend on the library"
done

tree="$work/root"
for p in "$runtime" "$dev" "$tools"; do dpkg -x "$p" "$tree"; done
for tool in kqbridge-host kqbridge-ctl kqbridge-pipe; do
  [[ -x $tree/usr/bin/$tool ]] || fail "kqbridge-tools has no usr/bin/$tool"
done

# README's hello module, as the reader would copy it: the code blocks whose
# first lines are these.
readme_block() {
  awk -v first="$1" '
    /^```/ { if (inside) { inside = 0; taking = 0 } else { inside = 1; starting = 1 } next }
    inside && starting { starting = 0; taking = index($0, first) == 1 }
    taking { print }' "$root/README.md"
}
mkdir -p "$work/hello"
readme_block "// hello.cpp" >"$work/hello/hello.cpp"
readme_block "# CMakeLists.txt" >"$work/hello/CMakeLists.txt"
[[ -s $work/hello/hello.cpp && -s $work/hello/CMakeLists.txt ]] || fail "README.md has no hello module"

cmake -S "$work/hello" -B "$work/hello/build" -G Ninja -DCMAKE_PREFIX_PATH="$tree/usr" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF >/dev/null
found=$(sed -n 's/^kqBridge_DIR:PATH=//p' "$work/hello/build/CMakeCache.txt")
[[ $found == "$tree"/* ]] || fail "find_package(kqBridge) found $found, not the unpacked tree"
cmake --build "$work/hello/build" >/dev/null
pc=$(dirname "$(find "$tree" -name kqbridge.pc)")
c++ -std=c++17 -shared -fPIC -o "$work/hello/build/hello-pc.dll" "$work/hello/hello.cpp" \
  $(PKG_CONFIG_PATH="$pc" pkg-config --cflags --libs kqbridge)
echo "package-check: README's hello module builds against the unpacked packages ($found)"

# The module beside the unpacked host, which finds the unpacked library
# through its run path; every file it writes stays under $work.
cp "$work/hello/build/hello.dll" "$tree/usr/bin/"
mkdir -p "$work/run/tmp" "$work/run/home"
mkdir -m 700 "$work/run/pipes"
export XDG_RUNTIME_DIR="$work/run/pipes"  # the host's admin pipe, where kqbridge-ctl finds it
(
  export TMPDIR="$work/run/tmp" TMP="$work/run/tmp" TEMP="$work/run/tmp"
  export HOME="$work/run/home" HOMEPATH="$work/run/home" APPDATA="$work/run/home" XDG_DATA_HOME="$work/run"
  cd "$work/run" && exec "$tree/usr/bin/kqbridge-host" --start hello.dll
) >"$work/run/out" 2>&1 &
host=$!
for _ in $(seq 100); do
  cat "$work"/run/kqbridge-host/log/Admin*.log 2>/dev/null | grep -q 'hello from hello' && break
  sleep 0.1
done
seen=$("$tree/usr/bin/kqbridge-ctl" status "$host" 2>&1) || true
kill -TERM "$host"
status=0
wait "$host" || status=$?
log=$(cat "$work"/run/kqbridge-host/log/Admin*.log 2>/dev/null || true)
if ((status != 0)) || ! grep -q 'hello from hello' <<<"$log" || grep -q 'ABI stamp' "$work/run/out"; then
  cat "$work/run/out"
  echo "$log"
  fail "the unpacked kqbridge-host did not run README's hello module (status $status)"
fi
echo "package-check: the unpacked kqbridge-host ran README's hello module"
grep -Eq '^  hello +started +.*hello\.dll$' <<<"$seen" || {
  echo "$seen"
  fail "the unpacked kqbridge-ctl did not see the hello module in the unpacked host"
}
echo "package-check: the unpacked kqbridge-ctl showed the unpacked host's status"
