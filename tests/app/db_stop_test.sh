#!/usr/bin/env bash
# SIGTERM while a line waits in DbOpen on a MySQL server that accepts and never answers: the quit ends the wait,
# every line stops and zuzod exits 0.
set -euo pipefail
ZUZOD="$1"
DIR=$(mktemp -d)
PID=""
SRV=""
trap '[[ -n "$PID" ]] && kill -KILL $PID 2>/dev/null; [[ -n "$SRV" ]] && kill $SRV 2>/dev/null; rm -rf "$DIR"' EXIT
cd "$DIR"
export LANG=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
export XDG_RUNTIME_DIR="$DIR/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf 'sipIpAddr=127.0.0.1\nsipIpPort=0\nsipTcpPort=0\n' > SipCfg.ini
fail() { echo "FAIL: $*"; for f in err.txt RawLog.txt; do [[ -e $f ]] && { echo "--- $f"; tail -30 $f; }; done; exit 1; }

# The silent server: says "ready" once it listens and "accepted" for every client, and answers nobody.
coproc SERVER { exec python3 -u -c '
import socket, sys
s = socket.socket(socket.AF_UNIX); s.bind(sys.argv[1]); s.listen(8); print("ready")
held = []
while True:
    c, _ = s.accept(); held.append(c); print("accepted")
' "$DIR/mysql.sock" 2>/dev/null; }
SRV=$SERVER_PID
read -r -t 30 word <&"${SERVER[0]}" && [[ $word == ready ]] || fail "the silent server did not start"
export MYSQL_UNIX_PORT="$DIR/mysql.sock"

printf 'FORM_TITLE=ZzDbStop%s\nIS_WRITE_LOG=2\nLANGUAGE_TYPE=EN\nVIR_LINES_NUM=1\nTOTAL_LINES_NUM=1\nLOG_FILE=lines.txt\n0=db.kvs\n' \
    $$ > ZuZodRun.cfg
printf 'h = 0\nr = DbOpen(5, "localhost", "u", "p", "", h)\n' > db.kvs
"$ZUZOD" >out.txt 2>err.txt &
PID=$!
# The line's connect is in: it waits for the server's greeting now.
read -r -t 30 word <&"${SERVER[0]}" && [[ $word == accepted ]] || fail "the line did not connect"
kill -TERM $PID
# Only a hang is caught here, not how long the stop took.
timeout 30 tail --pid=$PID -s 0.1 -f /dev/null || fail "zuzod did not exit within 30 s of SIGTERM"
rc=0
wait $PID || rc=$?
PID=""
[[ $rc == 0 ]] || fail "exit status $rc"
cat RawLog.txt lines*.txt > logs.txt
grep -q "did not stop" logs.txt err.txt && fail "a line did not stop"
grep -q "MySQL localhost: no answer to the connect after [0-9]* ms, wait ended by a quit or reload" logs.txt ||
    fail "the connect's wait was not ended by the quit"
echo OK
