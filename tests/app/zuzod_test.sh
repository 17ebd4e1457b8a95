#!/usr/bin/env bash
# The process: a second copy signals the first's "Show" event and exits; the "Quit" event, SIGTERM and SIGINT
# each stop it in order and free the instance. Then the lines: scripts load and run on virtual lines, and the
# Quit event, or SIGTERM while lines are still being handed out, closes every line in order.
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

# ---- Lines ----
mkdir lines && cd lines
printf 'FORM_TITLE=%s\nIS_WRITE_LOG=2\nLANGUAGE_TYPE=EN\nVIR_LINES_NUM=3\nLOG_FILE=lines.txt\nLOAD_DELAY=5\n0-1=loop.kvs\n2=bad.kvs\n' \
    "$TITLE" > ZuZodRun.cfg
printf 'n = 0\nwhile (1)\n{\n    n = n + 1\n}\n' > loop.kvs
printf 'n = = 1\n' > bad.kvs

# grep reads the files itself: "cat | grep -q" fails under pipefail when grep stops before cat has written all.
in_logs() { grep -qF -- "$1" lines*.txt RawLog.txt 2>/dev/null; }
wait_logs() {
    for _ in $(seq 300); do in_logs "$1" && return 0; sleep 0.05; done
    echo "missing in the logs: $1"; cat lines*.txt RawLog.txt 2>/dev/null | tail -40; exit 1
}

"$ZUZOD" >out.txt 2>err.txt & PID=$!
wait_logs "0 Run: tId"
wait_logs "1 Run: tId"
wait_logs "2: new TagTelBasic(bad.kvs) OK. ret=-2"
expected=$'linesCount: 3\n'$(printf '\xcf\xdf\xc2\xb7\xba\xc5  \xc0\xe0\xd0\xcd  \xc3\xfb\xb3\xc6')$'\n------------------------------------\n     0  VIR   VirtualLine0#\n     1  VIR   VirtualLine1#\n     2  VIR   VirtualLine2#\n==============================================\n'$(printf '\xcf\xdf\xc2\xb7\xcd\xb3\xbc\xc6\xa3\xba')$'\n0-2 = VIR  (3)\n=============================================='
[[ "$(cat LinesList.txt)" == "$expected" ]] || { echo "LinesList.txt differs"; od -c LinesList.txt | head -20; exit 1; }
"$SIGNAL" "$TITLE Quit"
wait $PID
PID=""
for t in "CloseAllTelLine(): 4" "pVirCard->FreeLine() OK." "Driver Closed." "Close Ok." "System Closed."; do
    in_logs "$t" || { echo "not closed in order: $t"; exit 1; }
done
in_logs "did not stop" && { echo "a line was left running"; exit 1; }

# A script's Exit() stops the process in order, as the Quit event does.
rm -f lines*.txt RawLog.txt
printf 'n = 0\nExit(0)\nwhile (1)\n{\n    n = n + 1\n}\n' > exit.kvs
sed -i 's/^2=bad.kvs/2=exit.kvs/' ZuZodRun.cfg
"$ZUZOD" >out.txt 2>err.txt & PID=$!
for _ in $(seq 200); do kill -0 $PID 2>/dev/null || break; sleep 0.05; done
kill -0 $PID 2>/dev/null && { echo "Exit() did not stop zuzod"; exit 1; }
wait $PID
PID=""
for t in "Exit()!" "Driver Closed." "Close Ok."; do in_logs "$t" || { echo "Exit(): missing $t"; exit 1; }; done

# SIGTERM while lines are still handed out (about a second apart): the rest are not loaded, none starts running.
rm -f lines*.txt RawLog.txt
sed -i 's/^LOAD_DELAY=.*/LOAD_DELAY=4000/' ZuZodRun.cfg
"$ZUZOD" >out.txt 2>err.txt & PID=$!
wait_logs "0: new TagTelBasic(loop.kvs) OK. ret=0"
kill -TERM $PID
wait $PID
PID=""
in_logs "Driver Closed." || { echo "not closed in order after SIGTERM"; exit 1; }
in_logs "Run: tId" && { echo "a line ran although the hand-out was stopped"; exit 1; }
in_logs "2: new TagTelBasic" && { echo "the hand-out went on after SIGTERM"; exit 1; }
exit 0
