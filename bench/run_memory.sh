#!/usr/bin/env bash
# Peak memory of `qav run` over a long series: the example storm repeated to
# ROWS rows (default 10 million) with a time column, read, computed and
# written a block of rows at a time. Not a test: it prints what it measures.
#
# usage: bench/run_memory.sh [ROWS] [THREADS]
#   (after cmake --preset release && cmake --build --preset release)
set -euo pipefail
cd "$(dirname "$0")/.."
rows="${1:-10000000}"
threads="${2:-$(nproc)}"
qav=build/release/qav
target_mb=100
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The example's rows below its header, one after another, each with a time.
awk -F, -v n="$rows" '
  /^[[:space:]]*#/ || NF < 4 { next }
  !header { header = 1; next }
  { row[count++] = $0 }
  END {
    print "time,hm0,tp,wlev,angle"
    for (i = 0; i < n; i++) printf "t%d,%s\n", i, row[i % count]
  }' examples/series.csv > "$work/series.csv"

status=0
/usr/bin/time -v "$qav" run --profile examples/profile.csv --series "$work/series.csv" --dike-normal 270 \
  --dam dam --dam-height -1 --threads "$threads" --quiet -o "$work/toe.csv" 2> "$work/time.txt" || status=$?
if [ "$status" -ne 0 ]; then
  cat "$work/time.txt" >&2
  echo "qav run ended with exit code $status" >&2
  exit 1
fi

peak_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
wall=$(awk -F': ' '/Elapsed \(wall clock\) time/ { print $2 }' "$work/time.txt")
table_rows=$(($(wc -l < "$work/toe.csv") - 1))
series_mb=$(($(stat -c %s "$work/series.csv") / 1048576))
table_mb=$(($(stat -c %s "$work/toe.csv") / 1048576))
peak_mb=$(awk -v kb="$peak_kb" 'BEGIN { printf "%.1f", kb / 1024 }')
echo "qav run, $rows rows ($series_mb MB of series, $table_mb MB of table, $table_rows rows written), $threads threads"
echo "peak resident memory: $peak_mb MB (target: at most $target_mb MB); wall time $wall"
if [ "$table_rows" -ne "$rows" ]; then
  echo "the table has $table_rows rows, not $rows" >&2
  exit 1
fi
awk -v kb="$peak_kb" -v mb="$target_mb" 'BEGIN { exit !(kb <= mb * 1024) }' || {
  echo "peak memory above the target" >&2
  exit 1
}
