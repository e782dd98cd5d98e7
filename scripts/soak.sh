#!/usr/bin/env bash
# The fault soak, longer than the suite runs it: `scripts/soak.sh [seeds] [records]` (default 20
# seeds of 500 records). Builds, starts a throwaway MariaDB, runs each seed in its own process and
# prints its counts: records lost, duplicated, diverged, deletions not carried out, exchanges not
# closed, ledger rows left. Exits non-zero when any count is not 0. Not a test.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${TARVELO_BUILD_DIR:-$root/build}"
seeds="${1:-20}"
records="${2:-500}"

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target test_sync

# shellcheck source=tests/support/mariadb.sh
source "$root/tests/support/mariadb.sh"
work=$(mktemp -d /tmp/tarvelo-soak.XXXXXX)
trap 'stop_test_mariadb "$work"' EXIT
start_test_mariadb "$work"
# Without the driver manager's pooling: it leaks on every connection handle (Debian 12's unixODBC),
# which a long run would feel.
sed 's/^Pooling=Yes/Pooling=No/' "$ODBCSYSINI/odbcinst.ini" >"$work/odbc/odbcinst.unpooled"
mv "$work/odbc/odbcinst.unpooled" "$ODBCSYSINI/odbcinst.ini"

failed=0
for seed in $(seq 1 "$seeds"); do
  out=$(TARVELO_SOAK_SEEDS="$seed," TARVELO_SOAK_RECORDS="$records" \
    "$build/tests/test_sync" --gtest_filter='FaultSoak.*' 2>&1) || failed=1
  line=$(grep -m1 "^seed $seed:" <<<"$out" || true)
  if [ -z "$line" ]; then
    echo "seed $seed: no counts"
    tail -n 20 <<<"$out"
    failed=1
  else
    echo "$line"
  fi
done
exit $failed
