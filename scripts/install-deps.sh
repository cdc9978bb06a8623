#!/usr/bin/env bash
# Installs the Debian packages the build needs; does nothing when all are present.
#   scripts/install-deps.sh          build and test dependencies
#   scripts/install-deps.sh --bench  also the libraries the benchmarks compare against
#   scripts/install-deps.sh --fuzz   also clang and its libFuzzer runtime
#   scripts/install-deps.sh --i386   also the 32-bit compiler and the :i386 libraries
set -euo pipefail

packages=(cmake ninja-build pkg-config g++ libgtest-dev libgmock-dev libbenchmark-dev libavutil-dev)
case "${1:-}" in
  --bench) packages+=(libssl-dev libspdlog-dev libconcurrentqueue-dev libboost-dev) ;;
  --fuzz) packages+=(clang libclang-rt-14-dev) ;;
  --i386) packages+=(g++-multilib libavutil-dev:i386 libgtest-dev:i386 libgmock-dev:i386) ;;
esac

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi

# The :i386 packages come from Debian's multiarch archive.
if [[ "${1:-}" == "--i386" ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  # A package installed for two architectures answers with one status per line.
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -qx 'install ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one list; the others still serve.
$sudo apt-get update -qq || echo "install-deps: some package lists were not refreshed"
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
