#!/usr/bin/env bash
# The demo's stop ends its programs and leaves alone a PID it recorded whose program ended and whose
# number another program has now.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/scripts/own_processes.sh"
w=$(mktemp -d)
sleep_bin=$(command -v sleep)
"$sleep_bin" 300 & alive=$!
"$sleep_bin" 0 & ended=$!
wait "$ended"
tail -f /dev/null & stranger=$!  # stands for the program that got a recorded PID
trap 'kill "$alive" "$stranger" 2>/dev/null || true; rm -rf "$w"' EXIT
for _ in $(seq 50); do own_runs "$alive" "$sleep_bin" && break; sleep 0.1; done
for pid in "$ended" "$stranger" "$alive"; do own_record "$w/pids" "$pid" "$sleep_bin"; done
own_end "$w/pids"
wait "$alive" 2>/dev/null || true
if kill -0 "$alive" 2>/dev/null; then echo "FAIL: the demo's own program still runs"; exit 1; fi
if ! kill -0 "$stranger" 2>/dev/null; then echo "FAIL: a program under a reused PID was ended"; exit 1; fi
echo "ok: own program ended, the stranger under a recorded PID left running"
