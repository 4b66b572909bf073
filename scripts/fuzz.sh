#!/usr/bin/env bash
# Builds the `fuzz` preset and runs each libFuzzer target for SECONDS (default 60) from its seed
# corpus and dictionary, with ASan and UBSan on. Any finding (crash, sanitizer report, broken
# invariant, a run over 5 s, over 2 GB of memory or a single allocation over 512 MB) fails the
# script; the input is then in build/fuzz/findings/<target>/. New coverage goes to a scratch
# corpus under build/, never into fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

status=0
for target in wql object_path cimxml host_file; do
  work=build/fuzz/work/$target
  findings=build/fuzz/findings/$target
  mkdir -p "$work" "$findings"
  dict=()
  [ -f "fuzz/dict/$target.dict" ] && dict=(-dict="fuzz/dict/$target.dict")
  echo "== fuzz_$target for ${seconds}s"
  if ! build/fuzz/bin/fuzz_"$target" "${dict[@]}" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
      -malloc_limit_mb=512 -print_final_stats=1 -artifact_prefix="$findings/" "$work" "fuzz/corpus/$target" \
      >"build/fuzz/$target.log" 2>&1; then
    tail -n 60 "build/fuzz/$target.log"
    echo "fuzz_$target found a problem; its input: $(ls "$findings")"
    status=1
  else
    grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "build/fuzz/$target.log" | tail -n 2
  fi
done
exit "$status"
