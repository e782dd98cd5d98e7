#!/usr/bin/env bash
# The test command: installs what is missing, builds, starts a throwaway MariaDB on 127.0.0.1,
# runs every test with CTest and stops the server, whatever happened. Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${TARVELO_BUILD_DIR:-$root/build}"

bash "$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

work=$(mktemp -d /tmp/tarvelo-test.XXXXXX)
cleanup() {
  if [ -f "$work/server.pid" ]; then
    local pid
    pid=$(cat "$work/server.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=tests/support/mariadb.sh
source "$root/tests/support/mariadb.sh"
start_test_mariadb "$work"

cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 300
