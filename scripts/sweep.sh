#!/bin/sh
# The fault sweep: every WMI call of every operation made to fail in turn, compared with the
# reviewed golden files in tests/library/sweep/.
#   scripts/sweep.sh           build (linux preset) and run the sweep
#   scripts/sweep.sh record    rewrite the golden files from what the library does now; then read
#                              `git diff tests/library/sweep` entry by entry against each
#                              operation's failure table before committing anything
set -eu
cd "$(dirname "$0")/.."
cmake --preset linux >/dev/null
cmake --build --preset linux --target sweep_tests
if [ "${1:-}" = record ]; then
  HVC_SWEEP_RECORD=1 build/linux/bin/sweep_tests --gtest_filter='Operations/*' >/dev/null
  git --no-pager diff --stat -- tests/library/sweep
else
  build/linux/bin/sweep_tests
fi
