#!/usr/bin/env bash
# The test command: installs what is missing, builds, starts a throwaway MariaDB on 127.0.0.1,
# runs every test with CTest and stops the server, whatever happened. Exits non-zero on any failure.
# The server runs with NO_BACKSLASH_ESCAPES in its global sql_mode; the literal tests then run
# once more without it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${TARVELO_BUILD_DIR:-$root/build}"

bash "$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# CMAKE_BUILD_PARALLEL_LEVEL and CTEST_PARALLEL_LEVEL, when set, say how many jobs; else every core.
cmake --build "$build" -j"${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

# shellcheck source=tests/support/mariadb.sh
source "$root/tests/support/mariadb.sh"
work=$(mktemp -d /tmp/tarvelo-test.XXXXXX)
trap 'stop_test_mariadb "$work"' EXIT
start_test_mariadb "$work"

cd "$build"
failed=()
ctest --output-on-failure -j"${CTEST_PARALLEL_LEVEL:-$(nproc)}" --timeout 300 || failed+=("the suite (NO_BACKSLASH_ESCAPES on)")
set_no_backslash_escapes off
echo "Literal tests again, without NO_BACKSLASH_ESCAPES:"
ctest --output-on-failure -j"${CTEST_PARALLEL_LEVEL:-$(nproc)}" --timeout 300 -R Literal --no-tests=ignore \
  || failed+=("the literal tests (NO_BACKSLASH_ESCAPES off)")
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}" >&2
  exit 1
fi
