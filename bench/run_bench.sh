#!/usr/bin/env bash
# Runs the program on generated organisations and prints one table: run
# time, the floor's time, their ratio, the ratio of their processor times,
# peak memory and memory per directory object.
#   bench/run_bench.sh [--big] [build folder]
#
# The floor is what a run must cost at the least: libldap's LDIF reader
# reading the same file and touching nothing else (bench/ldif_floor), plus
# writing the run's own log lines with one open, append and close per line
# and echoing them (bench/log_floor). The run and the floor both echo into
# /dev/null. Both are timed in the same bench run, so the ratio holds on a
# busy machine where the seconds do not. "cpu x" is the run's processor
# time (user and system, all threads) over the floor's: the work done
# beyond the floor, which the load's second thread hides from the wall
# time only while the host leaves it a core. Every time is the best of REPEAT
# runs (default 3; 1 for the 1,000,000-person rows), the run and the floor
# taken in turns. query-chain-8000 expands a chain of 8,000 query-based
# lists, each found by its mail (bench/gen_org). --big adds the
# 1,000,000-person organisation: the expansion of its top list and the
# resolution of a single person in it.
# BENCH_BINARY=<program> times that program instead of the build's (an
# older build, to compare).
set -euo pipefail
cd "$(dirname "$0")/.."
big=0
if [ "${1:-}" = --big ]; then
  big=1
  shift
fi
build="${1:-build-rel}"
repeat="${REPEAT:-3}"
# shellcheck source=bench/lib.sh
source bench/lib.sh
build_release "$build" tarnwick gen_org ldif_floor log_floor
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "${BENCH_BINARY:-$build/tarnwick}" "$work/tarnwick"

# Reads the processor time, user and system, of every child the shell has
# waited for so far into children_user and children_sys, as `times` writes
# them ("0m0.123s"): milliseconds, where /usr/bin/time gives hundredths, a
# fifth of the 10,000-person row's floor. `times` runs in this shell and
# nothing is forked, so that no child of its own is counted.
children_times() {
  times >"$work/times"
  { read -r _ && read -r children_user children_sys; } <"$work/times"
}
# "XmY.YYYs" as a bc expression in seconds.
bc_secs() {  # time
  local minutes="${1%%m*}" seconds="${1#*m}"
  echo "($minutes * 60 + ${seconds%s})"
}

# Runs a command once under /usr/bin/time into /dev/null; sets secs (the
# wall time, read from the shell's microsecond clock around the command:
# time's own is in hundredths, a tenth of the 10,000-person row), cpu (the
# processor time of all its threads, user and system) and kb (the peak
# resident set).
timed_once() {  # command...
  local start end user_before sys_before
  children_times
  user_before=$children_user sys_before=$children_sys
  start=$EPOCHREALTIME
  /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null
  end=$EPOCHREALTIME
  children_times
  secs=$(echo "$end - $start" | bc -l)
  cpu=$(echo "$(bc_secs "$children_user") + $(bc_secs "$children_sys") -" \
    "$(bc_secs "$user_before") - $(bc_secs "$sys_before")" | bc -l)
  read -r kb <"$work/time"
}

# Whether a time beats the best so far (none yet: it does).
beats() {  # time best
  [ -z "$2" ] || [ "$(echo "$1 < $2" | bc -l)" = 1 ]
}

generated=""
generate() {  # persons lists depth query_members [chain]
  local dir="$work/org-$1-$2-$3-$4-${5:-0}"
  if [ ! -d "$dir" ]; then
    mkdir -p "$dir"
    "$build/bench/gen_org" "$dir" "$@"
  fi
  generated="$dir"
}

printf '%-20s %9s %8s %8s %6s %6s %10s %9s %9s %9s\n' row objects "run s" "floor s" ratio \
  "cpu x" "us/object" "peak MiB" "B/object" "log lines"
row() {  # name repeat persons lists depth query_members list_address [chain]
  local name="$1" n="$2" address="$7"
  generate "$3" "$4" "$5" "$6" "${8:-0}"
  local dir="$generated"
  local objects
  objects=$(grep -c '^dn:' "$dir/directory.ldif")
  # A switch value is cut at " /", so the profile is named from its folder.
  # One untimed run keeps the echo: the floor writes these lines. The timed
  # runs and the floor both echo into /dev/null, so that neither is charged
  # for a file system's appends that the other is spared.
  (cd "$dir" && rm -f "$work/Tarnwick.log" &&
    "$work/tarnwick" /s profile.json /a bench /l "$address" >"$dir/out")
  # The run and the two halves of the floor are timed in rounds, one of
  # each per round, rather than all the runs and then all the floors: on a
  # host whose load comes and goes, a busy minute then falls on both sides
  # of the ratio instead of on one.
  local run_secs="" run_kb="" read_secs="" write_secs="" run_cpu="" read_cpu="" write_cpu=""
  for _ in $(seq "$n"); do
    timed_once bash -c "cd '$dir' && rm -f '$work/Tarnwick.log' && \
      exec '$work/tarnwick' /s profile.json /a bench /l '$address'"
    if beats "$secs" "$run_secs"; then run_secs=$secs run_kb=$kb; fi
    if beats "$cpu" "$run_cpu"; then run_cpu=$cpu; fi
    timed_once "$build/bench/ldif_floor" "$dir/directory.ldif"
    if beats "$secs" "$read_secs"; then read_secs=$secs; fi
    if beats "$cpu" "$read_cpu"; then read_cpu=$cpu; fi
    timed_once bash -c "rm -f '$work/floor.log' && \
      exec '$build/bench/log_floor' '$work/floor.log' <'$dir/out'"
    if beats "$secs" "$write_secs"; then write_secs=$secs; fi
    if beats "$cpu" "$write_cpu"; then write_cpu=$cpu; fi
  done
  local floor
  floor=$(echo "$read_secs + $write_secs" | bc -l)
  printf '%-20s %9d %8.3f %8.3f %6.2f %6.2f %10.2f %9.1f %9.0f %9d\n' "$name" "$objects" \
    "$run_secs" "$floor" "$(echo "$run_secs / $floor" | bc -l)" \
    "$(echo "$run_cpu / ($read_cpu + $write_cpu)" | bc -l)" \
    "$(echo "$run_secs * 1000000 / $objects" | bc -l)" \
    "$(echo "$run_kb / 1024" | bc -l)" "$(echo "$run_kb * 1024 / $objects" | bc -l)" \
    "$(wc -l <"$dir/out")"
}

row "lists-10k" "$repeat" 10000 200 5 0 "bench-all@bench.example"
row "lists-100k" "$repeat" 100000 2000 5 0 "bench-all@bench.example"
row "query-50k-of-100k" "$repeat" 100000 20 2 50000 "bench-query@bench.example"
row "query-chain-8000" "$repeat" 0 1 1 0 "chain-q0@bench.example" 8000
if [ "$big" = 1 ]; then
  row "lists-1M" 1 1000000 20000 5 0 "bench-all@bench.example"
  row "one-person-of-1M" 1 1000000 20000 5 0 "p123456@bench.example"
fi
