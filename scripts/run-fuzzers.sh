#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds (default 60), starting
# from the committed seed corpus; fails on the first finding. The targets come
# from the fuzz preset: cmake --preset fuzz && cmake --build --preset fuzz
# Each target prints its coverage at the end (cov: edges, ft: features) and,
# for the model targets, a "hits:" line: the march paths, logs and missing
# arguments its inputs reached.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bin=build/fuzz/fuzz
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p build/fuzz/findings
for target in c_entry reference_entry fast_paths validate_profile validate_series csv_reader command_line; do
  mkdir -p "$work/$target"
  echo "fuzz_$target: ${seconds} s"
  # New inputs go to the scratch corpus; findings to build/fuzz/findings/.
  status=0
  "$bin/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/findings/$target-" "$work/$target" "fuzz/corpus/$target" \
    > "$work/$target.log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+DONE|^hits:|stat::number_of_executed_units' "$work/$target.log" || tail -n 4 "$work/$target.log"
  if [ "$status" -ne 0 ]; then
    grep -E -A12 'ERROR|runtime error|contract broken' "$work/$target.log" | head -n 40 >&2 || true
    echo "fuzz_$target found a fault (exit $status); the input is in build/fuzz/findings/" >&2
    exit 1
  fi
done
