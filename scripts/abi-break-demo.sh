#!/usr/bin/env bash
# Shows that the ABI check catches what breaks modules: builds the library
# from a copy of this tree in which a public class, bg::Config, has gained a
# data member, and expects scripts/abi-check.sh to refuse it and to name the
# member in its report. Exit 0 when the check caught it.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/src"
(cd "$root" && git ls-files -z | xargs -0 cp --parents -t "$work/src")
header="$work/src/include/kqbridge/config.h"
anchor='  Config& operator=(const Config&) = delete;'
grep -qxF "$anchor" "$header" || { echo "abi-break-demo: $header has changed; update the anchor" >&2; exit 1; }
sed -i "s/^$anchor\$/&\n  int m_added;/" "$header"

cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/build" --target kqBridge_vs >/dev/null

status=0
report=$("$root/scripts/abi-check.sh" "$work/build" 2>&1) || status=$?
if ((status == 0)) || ! grep -q "'int m_added'" <<<"$report"; then
  echo "$report"
  echo "abi-break-demo: the ABI check let a new data member of bg::Config through" >&2
  exit 1
fi
grep -E "data member insertion|'int m_added'" <<<"$report"
echo "abi-break-demo: the ABI check refused a new data member of bg::Config, as it must"
