#!/usr/bin/env bash
# Installs the Debian packages the build needs; does nothing when all are present.
#   scripts/install-deps.sh            build and test dependencies
#   scripts/install-deps.sh --bench    also the libraries the benchmarks compare against
#   scripts/install-deps.sh --fuzz     also clang and its libFuzzer runtime
#   scripts/install-deps.sh --i386     also the 32-bit compiler, the :i386 libraries and
#                                      qemu-user (for kernels that cannot run i386 programs)
#   scripts/install-deps.sh --abi      also libabigail's abidw and abidiff
#   scripts/install-deps.sh --package  also what CPack needs for Debian packages
#   scripts/install-deps.sh --clang    also clang, for modules from another compiler
#   scripts/install-deps.sh --lint     also clang, clang-format and clang-tidy (make lint)
#   scripts/install-deps.sh --docs     also doxygen and graphviz (make docs)
#   scripts/install-deps.sh --windows  the MinGW-w64 cross compilers, Wine, and the
#                                      target's libavutil, libmosquitto and GoogleTest
#                                      built from Debian's sources into build/windows-deps/
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
packages=(cmake ninja-build pkg-config g++ libgtest-dev libgmock-dev libbenchmark-dev libavutil-dev python3)
# remote.dll: the MQTT client library and JSON (JSON also for the admin
# endpoint and kqbridge-ctl); the remote tests start a broker and make their
# TLS certificates with openssl.
packages+=(libmosquitto-dev nlohmann-json3-dev mosquitto mosquitto-clients openssl)
case "${1:-}" in
  --bench) packages+=(libssl-dev libspdlog-dev libconcurrentqueue-dev libboost-dev) ;;
  --fuzz) packages+=(clang libclang-rt-14-dev) ;;
  --i386) packages+=(g++-multilib libavutil-dev:i386 libgtest-dev:i386 libgmock-dev:i386 qemu-user) ;;
  --abi) packages+=(abigail-tools) ;;
  --package) packages+=(dpkg-dev file) ;;
  --clang) packages+=(clang) ;;
  --lint) packages+=(clang clang-format clang-tidy) ;;
  --docs) packages+=(doxygen graphviz) ;;
  --windows) packages+=(g++-mingw-w64 wine wine64 googletest dpkg-dev make) ;;
esac

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# The :i386 packages come from Debian's multiarch archive.
if [[ "${1:-}" == "--i386" ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi

# A package may be installed for several architectures: one installed copy is enough.
installed() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -qx "install ok installed"
}

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "install-deps: installing ${missing[*]}"
  # A mirror in the middle of a sync fails one index; the others still serve.
  $sudo apt-get update -qq || echo "install-deps: apt-get update reported errors; going on"
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
[[ "${1:-}" == "--windows" ]] || exit 0

# 32-bit Windows programs need wine32 (an i386 package). Where it cannot be
# installed (its libraries must match the installed 64-bit ones version for
# version) only the x86_64 build runs under Wine; we note that and do not try
# again on every build.
wine32_note="$root/build/windows-deps/wine32-unavailable"
if ! installed wine32:i386 && [[ ! -f $wine32_note ]]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    $sudo apt-get update -qq || true
  fi
  if ! $sudo apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null 2>&1; then
    mkdir -p "$(dirname "$wine32_note")"
    echo "wine32 could not be installed on $(date -u +%F)" >"$wine32_note"
    echo "install-deps: wine32 could not be installed; only the x86_64 build runs under Wine"
  fi
fi

exec "$root/scripts/build-windows-deps.sh"
