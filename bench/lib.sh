# shellcheck shell=bash
# Shared by the bench scripts; sourced, not run.

# Runs a set-up or build step quietly when it succeeds; a failure shows
# what it printed and ends the script, instead of ending it with an empty
# table.
quietly() {
  local output
  if ! output=$("$@" 2>&1); then
    printf '%s\n' "$output" >&2
    echo "$0: failed: $*" >&2
    exit 1
  fi
}

# Configures and builds a Release build with the benchmarks in folder $1,
# only the targets named after it.
build_release() {
  local build="$1"
  shift
  quietly scripts/setup
  quietly cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BENCH=ON
  quietly cmake --build "$build" -j 2 --target "$@"
}
