#!/usr/bin/env bash
# Peak memory of `qav run` on time steps whose grid has the most steps a step
# may have (16,777,216): the fast paths walk the grid and march it a block at
# a time, so their memory does not grow with the grid; the reference march
# holds the whole grid.
#
#   bench/grid_limit_memory.sh [build dir, default build/release] [steps, default 16]
#
# Prints, per run, the march path (default: the library's own choice), threads, the peak resident memory
# (/usr/bin/time -v) and the wall time; every step must be computed.
set -euo pipefail
build="${1:-build/release}"
steps="${2:-16}"
qav="$build/qav"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# 4194304 m at 1:419430 from -12 m to -2 m; with MinStepSize 0.25 (RatioDepth
# 0.1 times the smallest depth, 2 m, is less) the grid has 16777216 steps.
printf 'x,z\n0,-12\n4194304,-2\n' > "$work/profile.csv"
series() {
  echo "hm0,tp,wlev,angle"
  for ((i = 0; i < $1; i++)); do echo "$((15 + i % 10))e-1,$((70 + i % 7))e-1,0,$((265 + i % 11))"; done
}

run() {  # path (empty: the library's choice), threads, steps
  series "$3" > "$work/series.csv"
  local -a env=()
  [ -n "$1" ] && env=(QAV_MARCH_PATH="$1")
  env "${env[@]}" /usr/bin/time -v "$qav" run --profile "$work/profile.csv" --series "$work/series.csv" \
    --dike-normal 270 --min-step-size 0.25 --ratio-depth 0.1 --threads "$2" --quiet -o "$work/toe.csv" 2> "$work/time.txt"
  local computed rss wall
  computed=$(grep -c ',computed,' "$work/toe.csv" || true)
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time.txt")
  printf '| %s | %s | %s | %s of %s | %.1f MB | %s |\n' "${1:-default}" "$2" "$3" "$computed" "$3" \
    "$(echo "$rss / 1024" | bc -l)" "$wall"
  [ "$computed" -eq "$3" ] || { echo "not every step was computed" >&2; exit 1; }
}

"$qav" version
echo
echo "| march | threads | steps | computed | peak memory | wall time |"
echo "|---|---|---|---|---|---|"
run "" 1 "$steps"
run "" 2 "$steps"
run avx2 1 1
run reference 1 1
