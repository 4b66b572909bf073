#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest and test discovery.
# Usage: wine-run.sh <wine prefix folder> <program.exe> [arguments...]
# The prefix is private to the build folder; it is created once, under a lock, because tests
# and test discovery start several programs at the same time.
set -eo pipefail
prefix=$1
shift

if command -v wine64 >/dev/null 2>&1; then
  wine=wine64
elif [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64   # Debian keeps the 64-bit loader off PATH
else
  echo "wine-run.sh: wine64 not found" >&2
  exit 127
fi

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko installer prompts when the prefix is created; nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# OLE Automation must not cache freed BSTRs, or the malloc spy would count them as live.
export OANOCACHE=1
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$prefix/.hvc-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/.hvc-ready" ]; then
      "$wine" wineboot --init >/dev/null 2>&1
      touch "$prefix/.hvc-ready"
    fi
  ) 9>"$prefix.lock"
fi

# Test discovery parses the listing line by line; the C runtime's text mode ends lines with CR LF.
for arg in "$@"; do
  if [ "$arg" = --gtest_list_tests ]; then
    "$wine" "$@" | tr -d '\r'
    exit
  fi
done
exec "$wine" "$@"
