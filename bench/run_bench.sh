#!/usr/bin/env bash
# Runs the program on generated organisations and reports run time, persons
# reported per second and peak memory (maximum resident set size):
#   bench/run_bench.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
scripts/build "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/tarnwick" "$work/"
run() {  # name persons lists depth query_members list_address
  local dir="$work/$1"
  mkdir -p "$dir"
  "$build/bench/gen_org" "$dir" "$2" "$3" "$4" "$5"
  rm -f "$work/Tarnwick.log"
  local start end
  start=$(date +%s.%N)
  # A switch value is cut at " /", so the profile is named from its folder.
  (cd "$dir" && /usr/bin/time -f "%M" -o "$dir/rss" "$work/tarnwick" /s profile.json /a bench \
    /l "$6" >"$dir/out")
  end=$(date +%s.%N)
  local secs persons_seen rss_kb
  secs=$(echo "$end - $start" | bc -l)
  persons_seen=$(grep -c -E 'reading properties for|adding record for' "$dir/out" || true)
  rss_kb=$(cat "$dir/rss")
  printf '%-28s %8.2f s  %9d persons  %10.0f persons/s  peak %7.1f MiB  %8d log lines\n' \
    "$1" "$secs" "$persons_seen" "$(echo "$persons_seen / $secs" | bc -l)" \
    "$(echo "$rss_kb / 1024" | bc -l)" "$(wc -l <"$dir/out")"
}
run "lists-10k"   10000  200  5 0     "bench-all@bench.example"
run "lists-100k"  100000 2000 5 0     "bench-all@bench.example"
run "query-50k-of-100k" 100000 20 2 50000 "bench-query@bench.example"
