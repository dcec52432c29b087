#!/usr/bin/env bash
# Times the ldap backend against ldapsearch on the same live server and
# prints one table: run time, ldapsearch's time, their ratio, both peak
# memories and the run's log lines.
#   bench/run_ldap_bench.sh [--persons N] [build folder]
#
# Two rows: N persons (default 10,000) and 2N, each a generated organisation
# (bench/gen_org, one list for every 50 persons, five levels deep) loaded
# into a throw-away slapd (tests/ldap/slapd-fixture). The second row is
# there so that a reader sees whether the program's memory grows with the
# size of the directory; a client that only holds what the walk meets
# should grow with the list it expands, not with the server.
#
# tarnwick expands bench-all@bench.example, the top list, through a profile
# beside the generated one whose "directory" is the server's URL (the
# mailboxes are the generated profile's). ldapsearch reads every entry of
# the suffix with the attributes the backend asks for, paged as the backend
# pages, to /dev/null: what fetching the same data costs at the least, so
# the ratio holds on a busy machine where the seconds do not. Every time is
# the best of REPEAT runs (default 3), with its peak resident set.
#
# The run's standard output, apart from its first line (which names the
# server or the file), must be what the memory backend prints for the
# generated profile; the script says whether it is. A run that fails, or
# an ldap run that writes to its error stream, ends the script with what it
# printed. The servers are stopped on every exit.
set -euo pipefail
cd "$(dirname "$0")/.."
persons=10000
if [ "${1:-}" = --persons ]; then
  if ! [[ ${2:-} =~ ^[1-9][0-9]*$ ]]; then
    echo "bench/run_ldap_bench.sh: --persons wants a positive whole number, not '${2:-}'" >&2
    exit 2
  fi
  persons=$2
  shift 2
fi
build="${1:-build-rel}"
repeat="${REPEAT:-3}"
if ! [[ $repeat =~ ^[1-9][0-9]*$ ]]; then
  echo "bench/run_ldap_bench.sh: REPEAT wants a positive whole number, not '$repeat'" >&2
  exit 2
fi
# The attributes the backend's address book reads (platform/address_book.cpp).
attributes=(legacyExchangeDN msExchHideFromAddressLists displayName msExchRecipientDisplayType
            objectClass mailNickname givenName sn mail proxyAddresses member)
suffix="DC=bench,DC=example"
address="bench-all@bench.example"

# shellcheck source=bench/lib.sh
source bench/lib.sh
build_release "$build" tarnwick gen_org

work=$(mktemp -d)
servers=()
# Every server folder is listed before its start, so that a start that
# fails half-way is stopped too; stopping a folder that is not there is no
# error. The servers go before the work folder that holds them.
cleanup() {
  local dir
  for dir in "${servers[@]}"; do
    tests/ldap/slapd-fixture stop "$dir" >/dev/null 2>&1 ||
      echo "bench/run_ldap_bench.sh: could not stop the server in $dir" >&2
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# The run log goes beside the binary: a copy in the work folder keeps it
# out of the build folder.
cp "$build/tarnwick" "$work/tarnwick"

# Runs a command `repeat` times under /usr/bin/time, its output to `out`
# and its error stream to `err`; sets best_secs (the shortest wall time) and
# best_kb (the peak resident set of that run). A failed run ends the script.
timed() {  # output error command...
  local out="$1" err="$2"
  shift 2
  best_secs="" best_kb=""
  local secs kb
  for _ in $(seq "$repeat"); do
    if ! /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$out" 2>"$err"; then
      cat "$err" >&2
      echo "bench/run_ldap_bench.sh: failed: $*" >&2
      exit 1
    fi
    read -r secs kb <"$work/time"
    if [ -z "$best_secs" ] || [ "$(echo "$secs < $best_secs" | bc -l)" = 1 ]; then
      best_secs=$secs best_kb=$kb
    fi
  done
}

same_output=yes
printf '%-12s %9s %11s %13s %6s %18s %20s %9s\n' row objects "tarnwick s" "ldapsearch s" ratio \
  "tarnwick peak MiB" "ldapsearch peak MiB" "log lines"
row() {  # persons
  local n="$1"
  local dir="$work/org-$n" server="$work/slapd-$n"
  mkdir -p "$dir"
  quietly "$build/bench/gen_org" "$dir" "$n" $((n / 50)) 5 0
  local objects
  objects=$(grep -c '^dn:' "$dir/directory.ldif")
  servers+=("$server")
  local url
  url=$(tests/ldap/slapd-fixture start "$server" "$dir/directory.ldif" 2>"$work/fixture.err") || {
    cat "$work/fixture.err" >&2
    echo "bench/run_ldap_bench.sh: the server for $n persons did not start" >&2
    exit 1
  }
  # The generated profile with only its directory changed (gen_org writes
  # it one key a line; a URL holds no "|" or "&").
  sed 's|^\( *"directory": \)"directory.ldif"|\1"'"$url"'"|' "$dir/profile.json" >"$dir/ldap.json"
  if ! grep -qF "\"directory\": \"$url\"" "$dir/ldap.json"; then
    echo "bench/run_ldap_bench.sh: $dir/profile.json has no \"directory\": \"directory.ldif\" line" >&2
    exit 1
  fi

  # A switch value is cut at " /", so the profiles are named from their
  # folder. LC_ALL=C: the comparison must not turn on the time stamp's form.
  timed "$dir/ldap.out" "$dir/ldap.err" bash -c "cd '$dir' && rm -f '$work/Tarnwick.log' && \
    LC_ALL=C exec '$work/tarnwick' /s ldap.json /a bench /l '$address'"
  local run_secs="$best_secs" run_kb="$best_kb"
  if [ -s "$dir/ldap.err" ]; then
    cat "$dir/ldap.err" >&2
    echo "bench/run_ldap_bench.sh: the run against $url wrote to its error stream" >&2
    exit 1
  fi
  timed /dev/null "$work/ldapsearch.err" ldapsearch -x -LLL -H "$url" -b "$suffix" \
    -E pr=1000/noprompt '(objectClass=*)' "${attributes[@]}"
  local search_secs="$best_secs" search_kb="$best_kb"

  (cd "$dir" && rm -f "$work/Tarnwick.log" &&
    LC_ALL=C "$work/tarnwick" /s profile.json /a bench /l "$address" >memory.out 2>memory.err) || {
    cat "$dir/memory.err" >&2
    echo "bench/run_ldap_bench.sh: the memory backend's run failed" >&2
    exit 1
  }
  if ! cmp -s <(tail -n +2 "$dir/ldap.out") <(tail -n +2 "$dir/memory.out") ||
    ! grep -q complete "$dir/ldap.out"; then
    same_output=no
    diff <(tail -n +2 "$dir/memory.out") <(tail -n +2 "$dir/ldap.out") | head -5 >&2 || true
  fi

  # /usr/bin/time counts in hundredths: a faster ldapsearch counts as one.
  local divisor="$search_secs"
  [ "$(echo "$divisor < 0.01" | bc -l)" = 0 ] || divisor=0.01
  local ratio
  ratio=$(echo "$run_secs / $divisor" | bc -l)
  printf '%-12s %9d %11.2f %13.2f %6.2f %18.1f %20.1f %9d\n' "persons-$n" "$objects" \
    "$run_secs" "$search_secs" "$ratio" \
    "$(echo "$run_kb / 1024" | bc -l)" "$(echo "$search_kb / 1024" | bc -l)" \
    "$(wc -l <"$dir/ldap.out")"
  tests/ldap/slapd-fixture stop "$server" >/dev/null
}

row "$persons"
row $((persons * 2))
echo "same output as the memory backend: $same_output"
