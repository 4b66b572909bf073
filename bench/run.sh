#!/usr/bin/env bash
# The short benchmark pass CI runs: builds the bench preset, prints the inventory at 128 to 1024
# machines (time, peak RSS), the lookups beside SQLite, and hvcfg end to end on the 1024-machine
# host file. Timing is reported, never asserted.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench
bin=build/bench/bin
"$bin/hvc_bench" --benchmark_filter='InventoryAtScale|Ours/|Sqlite/' --benchmark_min_time=0.05 --benchmark_color=false

hostfile=$(mktemp --suffix=.json)
trap 'rm -f "$hostfile"' EXIT
"$bin/hvc_hostgen" 1024 16 >"$hostfile"
vm=vm-512
TIMEFORMAT='%R'
echo
echo "hvcfg on 1024 machines, 2048 adapters, 16 switches (seconds, whole process):"
for cmd in "vms" "stop $vm" "start $vm"; do
  copy=$(mktemp --suffix=.json)
  cp "$hostfile" "$copy"
  seconds=$({ time "$bin/hvcfg" --host "$copy" $cmd >/dev/null 2>&1; } 2>&1)
  rm -f "$copy"
  printf '  hvcfg %-12s %s\n' "$cmd" "$seconds"
done
