#!/usr/bin/env bash
# The short benchmark pass CI runs: builds the bench preset with profile feedback, prints the
# inventory at 128 to 1024 machines (time, peak RSS), the lookups beside SQLite, and hvcfg end to
# end on the 1024-machine host file. Timing is reported, never asserted.
set -euo pipefail
cd "$(dirname "$0")/.."

# Profile feedback: a copy built to record which paths run trains on smaller hosts than the ones
# measured (the inventory at 128 machines, the lookups on their smallest hosts, hvcfg's commands on
# 128 machines); the measured build is then compiled anew with what it recorded.
cmake --preset bench-train >/dev/null
cmake --build --preset bench-train
train=build/bench-train/bin
rm -rf build/bench-profile
"$train/hvc_bench" --benchmark_filter='InventoryAtScale/128/|Ours/100$' --benchmark_min_time=0.05 >/dev/null
trainhost=$(mktemp --suffix=.json)
"$train/hvc_hostgen" 128 16 >"$trainhost"
for cmd in "vms" "stop vm-64" "start vm-64" "shutdown vm-64" "disconnect switch-0 vm-64 00155D000080" \
  "connect switch-0 vm-64 00155D000080"; do
  "$train/hvcfg" --host "$trainhost" $cmd >/dev/null 2>&1 || { echo "training: hvcfg $cmd failed" >&2; exit 1; }
done
rm -f "$trainhost"
cmake --preset bench >/dev/null
cmake --build --preset bench --clean-first
bin=build/bench/bin
# Two processes: the lookups keep their hosts and databases for the whole run, which would count in
# the inventory's peak resident set if they ran first in the same process.
"$bin/hvc_bench" --benchmark_filter='InventoryAtScale' --benchmark_color=false
"$bin/hvc_bench" --benchmark_filter='Ours/|Sqlite/' --benchmark_min_time=0.05 --benchmark_color=false

hostfile=$(mktemp --suffix=.json)
trap 'rm -f "$hostfile"' EXIT
"$bin/hvc_hostgen" 1024 16 >"$hostfile"
TIMEFORMAT='%R'
echo
echo "hvcfg on 1024 machines, 2048 adapters, 16 switches, one host file in turn (seconds, whole process):"
# vm-512's first adapter, as hvc_hostgen numbers them (machine * 2 + adapter), is on switch-0.
mac=00155D000400
for cmd in "vms" "stop vm-512" "start vm-512" "shutdown vm-512" "disconnect switch-0 vm-512 $mac" \
  "connect switch-0 vm-512 $mac"; do
  status=0
  seconds=$({ time "$bin/hvcfg" --host "$hostfile" $cmd >/dev/null 2>&1; } 2>&1) || status=$?
  printf '  hvcfg %-44s %6s s%s\n' "$cmd" "$seconds" "$([ "$status" -eq 0 ] || echo " (exit $status)")"
done
