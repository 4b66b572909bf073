#!/usr/bin/env bash
# On a fresh machine: installs what is missing, then checks the code style, builds and runs every
# test on Linux, the demo, the sanitizer build, a short fuzzing pass, and the Windows build under
# Wine with its exports.
# CI runs exactly this (.ci/run).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

echo "== Code style"
scripts/format.sh --check

echo "== Linux: build and test"
cmake --workflow --preset test

echo "== The demo"
cmake --workflow --preset demo

echo "== Linux with clang, AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --workflow --preset asan

echo "== Fuzzing the simulated host's parsers, 45 s per target"
scripts/fuzz.sh 45

echo "== Windows: cross build, every test under Wine"
mkdir -p build
set +e
cmake --workflow --preset windows 2>&1 | tee build/windows-workflow.log
status=${PIPESTATUS[0]}
set -e
echo "under Wine: $(grep -E 'tests passed|tests failed' build/windows-workflow.log | tail -1)"
[ "$status" -eq 0 ] || exit "$status"
scripts/check-exports.sh build/windows/bin/hypervconfig.dll
test -f build/windows/bin/wintvlogger.dll

echo "== Benchmarks: a short pass (reported, not asserted)"
bench/run.sh
