#!/usr/bin/env bash
# Fifty starts and stops in a row, with the remote monitor on: each start is asked for the grid by a monitor
# client (or left without one), then stopped by SIGTERM, SIGINT or the "Quit" event in turn. Every stop must end
# the process in order; a stop that hangs hangs this test, and CTest's time-out fails it.
#   stop_cycles_test.sh ZUZOD SIGNAL_EVENT [window]   (window: the same under Xvfb, with the window shown)
set -euo pipefail
ZUZOD="$1"
SIGNAL="$2"
MODE="${3:-headless}"
if [[ "$MODE" == window && -z "${ZZ_IN_XVFB:-}" ]]; then
    command -v xvfb-run >/dev/null || { echo "SKIP: xvfb-run missing (scripts/install-deps installs it)"; exit 77; }
    ZZ_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x700x24" bash "$0" "$@"
fi
DIR=$(mktemp -d)
PID=""
trap '[[ -n "$PID" ]] && kill -KILL $PID 2>/dev/null; rm -rf "$DIR"' EXIT
cd "$DIR"
export LANG=C.UTF-8
SHOW=NO
if [[ "$MODE" == window ]]; then SHOW=YES; else unset DISPLAY WAYLAND_DISPLAY; fi
TITLE="ZzCycles$$"
printf 'sipIpAddr=127.0.0.1\nsipIpPort=0\nsipTcpPort=0\n' > SipCfg.ini
printf 'FORM_TITLE=%s\nIS_SHOW_FORM=%s\nIS_WRITE_LOG=2\nVIR_LINES_NUM=2\nTOTAL_LINES_NUM=2\nLOAD_DELAY=5\nMONITOR_PORT=2004\nMONITOR_MAX_CONN=2\n0-1=loop.kvs\n' \
    "$TITLE" "$SHOW" > ZuZodRun.cfg
printf 'n = 0\nwhile (1)\n{\n    n = n + 1\n}\n' > loop.kvs

fail() { echo "FAIL (cycle $1): $2"; [[ -e RawLog.txt ]] && tail -20 RawLog.txt; exit 1; }
mkfifo err.fifo
# Starts zuzod with its monitor on a free port and reads its start line. The port is free when chosen, but another
# program (tests run side by side) may take it before zuzod binds it: zuzod then says so and runs without its
# monitor, and that start is stopped and made again on another port.
start() {
    local try line taken
    for try in 1 2 3 4 5; do
        rm -f RawLog.txt
        port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
        sed -i "s/^MONITOR_PORT=.*/MONITOR_PORT=$port/" ZuZodRun.cfg
        "$ZUZOD" 2>err.fifo >/dev/null & PID=$!
        exec 4<err.fifo
        # The start line comes once the lines run; reading it blocks until then.
        line="" taken=""
        while IFS= read -r line <&4; do
            [[ "$line" == *"port $port cannot be opened"* ]] && taken=1
            [[ "$line" == "zuzod: "* ]] && break
        done
        [[ "$line" == *"monitor port $port;"* ]] && return 0
        [[ -n "$taken" && "$line" == *"monitor off;"* ]] || fail $cycle "the monitor is not on port $port: $line"
        kill -TERM $PID
        wait $PID || fail $cycle "exit status $? after a start without the monitor"
        PID=""
        exec 4<&-
    done
    fail $cycle "the monitor's port was taken five times in a row"
}
for cycle in $(seq 50); do
    start
    if (( cycle % 2 )); then
        # A monitor client asks once and reads the answer's length: the server has served it.
        exec 3<>/dev/tcp/127.0.0.1/$port
        printf 'poll!' >&3
        (( $(head -c 4 <&3 | wc -c) == 4 )) || fail $cycle "the monitor gave no answer"
    fi
    case $(( cycle % 3 )) in
        0) kill -TERM $PID ;;
        1) kill -INT $PID ;;
        2) "$SIGNAL" "$TITLE Quit" || fail $cycle "the Quit event has no owner" ;;
    esac
    rc=0
    wait $PID || rc=$?
    PID=""
    exec 4<&- 3>&- 3<&-
    [[ $rc == 0 ]] || fail $cycle "exit status $rc"
    grep -q "\[Close Ok.\]" RawLog.txt || fail $cycle "not stopped in order"
done
echo "50 stops ($MODE), each in order"
