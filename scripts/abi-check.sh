#!/usr/bin/env bash
# Compares the ABI of a built libkqBridge_vs with the baseline abi/kqBridge_vs.abi
# (libabigail's abidw output for the current SOVERSION). Only what the public
# headers define counts: state kept in src/ may change freely, and
# abi/kqBridge_vs.abignore lists the symbols exported only by accident.
#   scripts/abi-check.sh [build dir]           exit 1, printing abidiff's report, on any
#                                              change that breaks modules built before it
#                                              (added functions and variables pass)
#   scripts/abi-check.sh --update [build dir]  write the baseline anew, after an intended
#                                              break has raised the SOVERSION
# The build's headers are those of the source tree it was configured from.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
update=false
if [[ "${1:-}" == "--update" ]]; then
  update=true
  shift
fi
build=$(cd "${1:-$root/build/default}" && pwd)
source=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
library="$build/libkqBridge_vs.so"
baseline="$root/abi/kqBridge_vs.abi"
[[ -e $library ]] || { echo "abi-check: no $library; build the kqBridge_vs target first" >&2; exit 1; }

# Exported interfaces only: the library exports nothing but its public API.
options=(--headers-dir "$source/include/kqbridge" --drop-private-types --exported-interfaces-only
         --no-corpus-path --no-comp-dir-path)
if $update; then
  # Paths relative to the source tree, so the baseline does not depend on
  # where the tree was checked out.
  abidw "${options[@]}" --no-show-locs "$(readlink -f "$library")" | sed "s|path='$source/|path='|" >"$baseline"
  echo "abi-check: wrote $baseline"
  exit 0
fi

current=$(mktemp)
trap 'rm -f "$current"' EXIT
abidw "${options[@]}" --short-locs --out-file "$current" "$(readlink -f "$library")"
status=0
report=$(abidiff --no-added-syms --suppressions "$root/abi/kqBridge_vs.abignore" "$baseline" "$current") || status=$?
if ((status & 1)); then
  echo "$report" >&2
  echo "abi-check: abidiff failed (status $status)" >&2
  exit 1
fi
if ((status != 0)); then
  echo "$report"
  echo "abi-check: the ABI changed in a way that breaks existing modules (abidiff status $status)."
  echo "abi-check: undo the change, or make it an intended break: raise KQ_ABI_VERSION in"
  echo "abi-check: include/kqbridge/module_stamp.h with the project's major version and run"
  echo "abi-check: 'make abi-baseline' in the same commit."
  exit 1
fi
echo "abi-check: $(basename "$(readlink -f "$library")") keeps the ABI of the baseline"
