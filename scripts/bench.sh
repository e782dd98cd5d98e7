#!/usr/bin/env bash
# The benchmark command: installs what is missing, builds, starts the throwaway MariaDB of the
# tests, runs every benchmark program in the build's bench folder (each prints its figures) and
# stops the server, whatever happened. Arguments go to bench_engine only (its sizes). The server
# runs relaxed (innodb_flush_log_at_trx_commit=0) as for the tests; bench_engine sets MariaDB's
# durable default for its first run and gives the setting back for its second.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${TARVELO_BUILD_DIR:-$root/build}"

bash "$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

# shellcheck source=tests/support/mariadb.sh
source "$root/tests/support/mariadb.sh"
work=$(mktemp -d /tmp/tarvelo-bench.XXXXXX)
trap 'stop_test_mariadb "$work"' EXIT
start_test_mariadb "$work"

status=0
found=""
for program in "$build"/bench/*; do
  [ -f "$program" ] && [ -x "$program" ] || continue
  found=1
  echo "== $(basename "$program")"
  args=()
  [ "$(basename "$program")" = bench_engine ] && args=("$@")
  "$program" "${args[@]}" || { echo "$(basename "$program") failed" >&2; status=1; }
done
[ -n "$found" ] || { echo "no benchmark programs in $build/bench" >&2; status=1; }
exit $status
