#!/usr/bin/env bash
# Installs the Debian packages the build needs; does nothing when all are present.
#   scripts/install-deps.sh          build and test dependencies
#   scripts/install-deps.sh --bench  also the libraries the benchmarks compare against
#   scripts/install-deps.sh --fuzz   also clang and its libFuzzer runtime
set -euo pipefail

packages=(cmake ninja-build pkg-config g++ libgtest-dev libgmock-dev libbenchmark-dev libavutil-dev)
if [[ "${1:-}" == "--fuzz" ]]; then
  packages+=(clang libclang-rt-14-dev)
fi
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(libssl-dev libspdlog-dev libconcurrentqueue-dev libboost-dev)
fi

missing=()
for p in "${packages[@]}"; do
  # A package installed for two architectures answers with one status per line.
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -qx 'install ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
