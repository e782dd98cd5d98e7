#!/usr/bin/env bash
# The fault soak, longer than the suite runs it: `scripts/soak.sh [seeds] [records] [first seed]`.
# `seeds` is a count of seeds from the first seed (default 20 from 101, seeds the suite never
# runs), a range "101-120" or a list "112,116"; `records` per seed (default 500). Builds, starts a
# throwaway MariaDB, runs each seed in each fault mix (both, unless TARVELO_SOAK_MIX names one:
# "requests" or "pumps") in its own process, TARVELO_SOAK_JOBS of them at a time (default 1), and
# prints the counts of each: records lost, duplicated, diverged, deletions not carried out, copies
# of records not closed, ledger rows left beyond the statistics rows, and a closing note per mix
# with the counts summed, the records sent again and the masters that took their family along.
# Exits non-zero when any count is not 0. Not a test.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${TARVELO_BUILD_DIR:-$root/build}"
which="${1:-20}"
records="${2:-500}"
first="${3:-101}"

case "$which" in
  *,*) seeds=$(tr ',' ' ' <<<"$which") ;;
  *-*) seeds=$(seq "${which%-*}" "${which#*-}") ;;
  *) seeds=$(seq "$first" $((first + which - 1))) ;;
esac
for seed in $seeds; do
  [[ "$seed" =~ ^[0-9]+$ ]] || { echo "not a seed: $seed (seeds: a count, a range 101-120 or a list 112,116)" >&2; exit 2; }
done

case "${TARVELO_SOAK_MIX:-}" in
  "") mixes="requests pumps" ;;
  requests|pumps) mixes=$TARVELO_SOAK_MIX ;;
  *) echo "not a fault mix: $TARVELO_SOAK_MIX (requests or pumps)" >&2; exit 2 ;;
esac

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target test_sync

# shellcheck source=tests/support/mariadb.sh
source "$root/tests/support/mariadb.sh"
work=$(mktemp -d /tmp/tarvelo-soak.XXXXXX)
trap 'stop_test_mariadb "$work"' EXIT
start_test_mariadb "$work"

run_seed() {
  local seed=$1 mix=$2 out line
  out=$(TARVELO_SOAK_SEEDS="$seed," TARVELO_SOAK_RECORDS="$records" TARVELO_SOAK_MIX="$mix" \
    "$build/tests/test_sync" --gtest_filter='FaultSoak.*' 2>&1) || true
  line=$(grep -m1 "^seed $seed $mix:" <<<"$out" || true)
  if [ -z "$line" ]; then
    { echo "seed $seed $mix: no counts"; tail -n 20 <<<"$out"; } >"$work/seed.$seed.$mix"
  else
    { echo "$line"; grep '^  left ' <<<"$out" || true; } >"$work/seed.$seed.$mix"
  fi
}

# Each seed and mix in its own process; the test server is a background job of this shell too.
running=()
for seed in $seeds; do
  for mix in $mixes; do
    while :; do
      alive=()
      for pid in "${running[@]}"; do kill -0 "$pid" 2>/dev/null && alive+=("$pid"); done
      running=("${alive[@]}")
      [ "${#running[@]}" -lt "${TARVELO_SOAK_JOBS:-1}" ] && break
      sleep 1
    done
    run_seed "$seed" "$mix" &
    running+=("$!")
  done
done
for pid in "${running[@]}"; do wait "$pid" || true; done

failed=0
for seed in $seeds; do
  for mix in $mixes; do
    cat "$work/seed.$seed.$mix"
    grep -q "lost 0, duplicated 0, diverged 0, deletions not carried out 0, exchanges not closed 0, ledger rows left 0 " \
      "$work/seed.$seed.$mix" || failed=1
  done
done
# The closing note: each mix's counts summed over its seeds, with the records sent again and the
# masters that took their family along.
for mix in $mixes; do
  cat "$work"/seed.*."$mix" | awk -v mix="$mix" '
    /^seed [0-9]+ [a-z]+: records/ {
      ++runs
      for (i = 1; i <= NF; ++i) {
        v = $(i + 1); sub(/,$/, "", v)
        if ($i == "lost") lost += v; else if ($i == "duplicated") dup += v; else if ($i == "diverged") div += v
        else if ($i == "out") undel += v; else if ($i == "closed") open += v; else if ($i == "left") rows += v
      }
      if (match($0, /[0-9]+ records sent again/)) again += substr($0, RSTART, RLENGTH) + 0
      if (match($0, /[0-9]+ masters took their family along/)) taken += substr($0, RSTART, RLENGTH) + 0
    }
    /: no counts$/ { ++missing }
    END {
      printf "%s: %d seeds counted, %d without counts; lost %d, duplicated %d, diverged %d, deletions not carried " \
             "out %d, exchanges not closed %d, ledger rows left %d; %d records sent again, %d masters took " \
             "their family along\n",
             mix, runs, missing, lost, dup, div, undel, open, rows, again, taken
    }'
done
exit $failed
