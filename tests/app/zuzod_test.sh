#!/usr/bin/env bash
# The process: a second copy signals the first's "Show" event and exits; the "Quit" event, SIGTERM and SIGINT
# each stop it in order and free the instance.
set -euo pipefail
ZUZOD="$1"
SIGNAL="$2"
DIR=$(mktemp -d)
PID=""
trap '[[ -n "$PID" ]] && kill $PID 2>/dev/null; rm -rf "$DIR"' EXIT
cd "$DIR"
TITLE="ZzTest$$"
printf 'FORM_TITLE=%s\nIS_WRITE_LOG=0\nIS_IMMEDIATE_LOG=1\nLOG_FILE=run.txt\n' "$TITLE" > ZuZodRun.cfg

wait_for() {
    for _ in $(seq 200); do grep -q "$1" run.txt 2>/dev/null && return 0; sleep 0.05; done
    echo "missing in the run log: $1"; cat run.txt; exit 1
}
stopped() { grep -c "System Closed." run.txt; }

"$ZUZOD" & PID=$!
wait_for "zuzod started"
if "$ZUZOD" 2>err.txt; then echo "a second copy did not refuse"; exit 1; fi
wait_for "Show event received"

"$SIGNAL" "$TITLE Quit"
wait $PID
PID=""
wait_for "Quit event received"
[[ $(stopped) == 1 ]] || { echo "not closed in order"; exit 1; }

n=1
for sig in TERM INT; do
    n=$((n + 1))
    "$ZUZOD" & PID=$!
    for _ in $(seq 200); do [[ $(grep -c "zuzod started" run.txt) -ge $n ]] && break; sleep 0.05; done
    sleep 0.2
    kill -$sig $PID
    wait $PID
    PID=""
done
[[ $(stopped) == 3 ]] || { echo "SIGTERM/SIGINT did not close in order"; cat run.txt; exit 1; }
