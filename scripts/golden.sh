#!/bin/sh
# Records what every library call of the test suites did (result, standard output, log lines with
# their formats, the simulated host's transcript), or compares two such records.
#   scripts/golden.sh record [BUILD_DIR] OUT     (BUILD_DIR defaults to build/linux)
#   scripts/golden.sh compare BEFORE AFTER       (a unified diff; status 1 when they differ)
set -eu
case "${1:-}" in
  record)
    if [ $# -eq 3 ]; then build=$2; out=$3; else build=build/linux; out=$2; fi
    : >"$out"
    out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
    for suite in inventory jobs switches vmstate adapters; do
      HVC_GOLDEN=$out "$build/bin/${suite}_tests" >/dev/null
    done
    echo "$(grep -c '^=== ' "$out") calls recorded in $out"
    ;;
  compare)
    diff -u "$2" "$3"
    ;;
  *)
    echo "usage: $0 record [BUILD_DIR] OUT | compare BEFORE AFTER" >&2
    exit 2
    ;;
esac
