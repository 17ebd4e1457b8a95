#!/usr/bin/env bash
# zuzod as a service manager and an operator see it, without a display: the single instance and its "Show" and
# "Quit" events; SIGTERM, SIGINT and SIGHUP stop it in order and exit 0, SIGUSR1 reloads the scripts, a SIGTERM
# during start-up is kept for the loop; a start that cannot run anything exits 1 at once and says why; the one
# line on standard error (in the terminal's encoding); the line table, a script that does not compile (its errors
# said once for the lines that share it), Exit(), RawLog.txt's last lines, and --help.
set -euo pipefail
ZUZOD="$1"
SIGNAL="$2"
DIR=$(mktemp -d)
PID=""
trap '[[ -n "$PID" ]] && kill $PID 2>/dev/null; rm -rf "$DIR"' EXIT
cd "$DIR"
export LANG=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
# The instance locks in a folder of this run: a start without a title takes the default instance, which any other
# zuzod on the machine (another test, another checkout's run) may hold at that moment.
export XDG_RUNTIME_DIR="$DIR/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
TITLE="ZzTest$$"
# The SIP lines listen on loopback ports of their own, so that test runs side by side do not meet.
printf 'sipIpAddr=127.0.0.1\nsipIpPort=0\nsipTcpPort=0\n' > SipCfg.ini

fail() { echo "FAIL: $*"; for f in err.txt RawLog.txt; do [[ -e $f ]] && { echo "--- $f"; tail -30 $f; }; done; exit 1; }
# Waits (bounded) until a file holds a text; the process writes it when the awaited step has happened.
wait_text() {
    for _ in $(seq 600); do grep -qF -- "$2" $1 2>/dev/null && return 0; sleep 0.05; done
    fail "missing in $1: $2"
}
# The old output goes first: the background start truncates it only when it gets to run, and a wait could
# otherwise read the last start's line and signal a process that has not yet blocked its signals.
start() {
    rm -f out.txt err.txt
    "$ZUZOD" "$@" >out.txt 2>err.txt &
    PID=$!
}
stop_with() {
    kill -"$1" $PID
    local rc=0
    wait $PID || rc=$?
    PID=""
    [[ $rc == 0 ]] || fail "SIG$1: exit status $rc"
}
last_raw() { tail -1 RawLog.txt | sed 's/^[^[]*\[\(.*\)\]$/\1/'; }

# The SIP driver offers 1024 lines before the virtual ones; the first three are used.
printf 'FORM_TITLE=%s\nIS_WRITE_LOG=2\nLANGUAGE_TYPE=EN\nVIR_LINES_NUM=3\nTOTAL_LINES_NUM=3\nLOG_FILE=lines.txt\nLOAD_DELAY=5\n0-1=loop.kvs\n2=bad.kvs\n' \
    "$TITLE" > ZuZodRun.cfg
printf 'n = 0\nwhile (1)\n{\n    n = n + 1\n}\n' > loop.kvs
printf 'n = = 1\n' > bad.kvs

# ---- the one line on standard error, a second copy, the Quit event, the line table and RawLog's end
start
wait_text err.txt "zuzod: 3 lines (SIP 3); SIP on 127.0.0.1 "
[[ $(grep -c "^zuzod: [0-9]* lines" err.txt) == 1 ]] || fail "more than one start line"
grep -q "monitor off; stop with Ctrl-C or kill -TERM $PID" err.txt || fail "the start line does not say how to stop"
if "$ZUZOD" 2>err2.txt; then fail "a second copy did not refuse"; fi
grep -q "程序已经启动！" err2.txt || fail "the second copy's message is not in the terminal's encoding"
wait_text "lines*.txt" "Show event received"
wait_text "lines*.txt" "1 Run: tId"
wait_text RawLog.txt "2: new TagTelBasic(bad.kvs) failed. ret=-2"
grep -q "new TagTelBasic(bad.kvs) OK" RawLog.txt && fail "a failed compile logged as OK"
# The lines that run serve; the one that cannot is named, with its cause, before the start line.
grep -A1 "^zuzod: these lines cannot run:" err.txt | grep -qx "line 2: script bad.kvs does not compile (errmsg2.txt)" ||
    fail "the line that cannot run is not named"
expected=$'linesCount: 3\n'$(printf '\xcf\xdf\xc2\xb7\xba\xc5  \xc0\xe0\xd0\xcd  \xc3\xfb\xb3\xc6')$'\n------------------------------------\n     0  SIP   SIP:0\n     1  SIP   SIP:1\n     2  SIP   SIP:2\n==============================================\n'$(printf '\xcf\xdf\xc2\xb7\xcd\xb3\xbc\xc6\xa3\xba')$'\n0-2 = SIP  (3)\n=============================================='
[[ "$(cat LinesList.txt)" == "$expected" ]] || { od -c LinesList.txt | head -20; fail "LinesList.txt differs"; }
# "Quit" sent as the README says another program does it.
python3 -c 'import socket,sys; s=socket.socket(socket.AF_UNIX,socket.SOCK_DGRAM); s.setblocking(False); s.sendto(b"1",sys.argv[1])' "$XDG_RUNTIME_DIR/zuzod-$TITLE%20Quit.sock"
rc=0; wait $PID || rc=$?; PID=""
[[ $rc == 0 ]] || fail "Quit event: exit status $rc"
grep -q "HasQuitEvent!" RawLog.txt || fail "the Quit event was not taken"
[[ -e "$XDG_RUNTIME_DIR/zuzod-$TITLE%20Quit.sock" ]] && fail "an orderly stop left the Quit socket"
# The script that does not compile ends its loading thread: only the two good lines have run threads.
[[ $(grep -c "\[LineRunThread...\]" RawLog.txt) == 2 ]] || fail "a line that did not compile logged a run thread"
grep -q "initRet=-2" RawLog.txt && fail "a line that did not compile logged its run thread's init result"
grep -q $'\r' err.txt && fail "a bare carriage return reached the terminal"
[[ "$(last_raw)" == "Close Ok." ]] || fail "RawLog.txt does not end with Close Ok."
grep -B1 "\[Close Ok.\]" RawLog.txt | grep -q "delete _logFp" || fail "the run log is not closed just before Close Ok."
grep -q "CloseAllTelLine(): 4" RawLog.txt || fail "the lines were not closed"

# ---- signals: each stops in order; SIGUSR1 reloads
for sig in TERM INT HUP; do
    rm -f RawLog.txt lines*.txt
    start
    wait_text err.txt "zuzod: "
    stop_with $sig
    [[ "$(last_raw)" == "Close Ok." ]] || fail "SIG$sig did not stop in order"
done
rm -f RawLog.txt lines*.txt
start
wait_text "lines*.txt" "0 Run: tId"
wait_text RawLog.txt "2: new TagTelBasic(bad.kvs) failed"
kill -USR1 $PID
# Line 2 does not compile, so the reload runs the whole hand-out again, and says so when it begins and ends.
wait_text err.txt "zuzod: reload: done: 3 lines reloaded, 2 running; line 2: script bad.kvs does not compile (errmsg2.txt)"
grep -qxF "zuzod: reload: line 2 ended or did not compile: every line starts again, with the line lists of ZuZodRun.cfg read again" err.txt ||
    fail "the reload's beginning was not said"
(( $(grep -c "\[Run Start ...\]" RawLog.txt) >= 2 )) || fail "SIGUSR1 did not reload"
grep -qF "[reload: done: 3 lines reloaded, 2 running" lines*.txt || fail "the reload's end is not in the run log"
stop_with TERM

# A SIGTERM as soon as the signals are blocked, long before the lines run, waits for the loop and stops in order.
rm -f RawLog.txt
start
blocked=""
for _ in $(seq 3000); do
    mask=$(awk '/^SigBlk/ {print $2}' /proc/$PID/status 2>/dev/null || echo 0)
    (( (16#${mask:-0} >> 14) & 1 )) && { blocked=1; break; }
    sleep 0.01
done
[[ -n $blocked ]] || fail "SIGTERM never blocked"
stop_with TERM
[[ "$(last_raw)" == "Close Ok." ]] || fail "an early SIGTERM did not stop in order"

# ---- Exit() in a script stops in order, exit status 0
printf 'n = 0\nExit(0)\nwhile (1)\n{\n    n = n + 1\n}\n' > exit.kvs
sed -i 's/^2=bad.kvs/2=exit.kvs/' ZuZodRun.cfg
rm -f RawLog.txt
start
rc=0; wait $PID || rc=$?; PID=""
[[ $rc == 0 ]] || fail "Exit(): exit status $rc"
grep -q "Exit()!" RawLog.txt || fail "Exit() not logged"
[[ "$(last_raw)" == "Close Ok." ]] || fail "Exit() did not stop in order"

# ---- starts that cannot run anything: exit 1 at once, and the message names the cause
mkdir bad && cd bad
expect_fail() {
    local rc=0
    "$ZUZOD" >out.txt 2>err.txt || rc=$?
    [[ $rc == 1 ]] || fail "$1: exit status $rc"
    grep -qF -- "$2" err.txt || fail "$1: the message does not say: $2"
}
expect_fail "no configuration file" '"ZuZodRun.cfg" File Open Error.'
# A runtime folder everyone may write in, like /tmp, is refused: another user could take the events there.
mkdir -m 1777 "$DIR/shared"
XDG_RUNTIME_DIR="$DIR/shared" expect_fail "a shared runtime folder" "$DIR/shared: other users may write in it (mode 1777)"
# A copy that holds the lock but owns no "Show" (still starting, or stuck): the second start says it was not told.
# Without a configuration the names are the default ones.
exec {held}>"$XDG_RUNTIME_DIR/zuzod-ZuZod%20from%20Karvelian.lock"
flock -n $held
expect_fail "Show without an owner" 'the running copy was not asked to show its window: "ZuZod Show" not delivered: no running process owns it'
exec {held}>&-
# --help: the usage on standard output, exit 0; a wrong option: on standard error, exit 2
rc=0; "$ZUZOD" --help >out.txt 2>err.txt || rc=$?
[[ $rc == 0 ]] && grep -q "^usage: zuzod " out.txt && [[ ! -s err.txt ]] || fail "--help: exit status $rc"
rc=0; "$ZUZOD" --bogus >out.txt 2>err.txt || rc=$?
[[ $rc == 2 ]] && grep -q "^usage: zuzod " err.txt && [[ ! -s out.txt ]] || fail "a wrong option: exit status $rc"
printf 'FORM_TITLE=%s\nVIR_LINES_NUM=2\n0-1=a.kvs\n1=b.kvs\n' "$TITLE" > ZuZodRun.cfg
expect_fail "overlapping lists" "Error : ZuZodRun.cfg : line lists overlap: line 1 is in both 0-1=a.kvs (line 3) and 1=b.kvs (line 4)"
grep -q "File Open Error" err.txt && fail "an overlap reported as a file open error"
head -c 3000 /dev/urandom | tr -d '=' > ZuZodRun.cfg
expect_fail "a garbage file" "gives no line a script"
# Every script missing or not compiling: no line can run. The errors of the script the three lines share are said
# once, in the terminal's encoding.
printf 'n = = 1\n' > bad.kvs
printf 'FORM_TITLE=%s\nVIR_LINES_NUM=0\nTOTAL_LINES_NUM=6\nLOAD_DELAY=5\n0-2=gone.kvs\n3-5=bad.kvs\n' "$TITLE" > ZuZodRun.cfg
expect_fail "scripts missing or not compiling" "no line with a script can run"
grep -qF "lines 0-2: script gone.kvs: No such file or directory" err.txt || fail "the missing script is not named"
grep -qF "line 3: script bad.kvs does not compile" err.txt || fail "the script that does not compile is not named"
[[ $(grep -c "^bad.kvs(1): .*, n = = 1$" err.txt) == 1 ]] || fail "the compile error is not said once"
grep -q "^bad.kvs(1): 语法错误" err.txt || fail "the compile error is not in the terminal's encoding"
grep -q "^zuzod: " err.txt && fail "a start that cannot serve printed the start line"
# Only SIP lines have scripts and the SIP port is taken: the cause in words, not the bare errno.
printf 'n = 0\n' > ok.kvs
coproc HOLD { exec python3 -c 'import socket,sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1], flush=True); sys.stdin.read()'; }
read -r -u "${HOLD[0]}" port
printf 'sipIpAddr=127.0.0.1\nsipIpPort=%s\nsipTcpPort=0\n' "$port" > SipCfg.ini
sed -i 's/=gone.kvs/=ok.kvs/; s/=bad.kvs/=ok.kvs/' ZuZodRun.cfg
expect_fail "the SIP port taken" "lines 0-5: the SIP stack could not listen on 127.0.0.1 (udp port $port, tcp port 0): Address already in use"
# A word of its own: the port the kernel gave may hold the digits.
grep -qw "98" err.txt && fail "the bare errno shown"
kill "$HOLD_PID"

# Some lines run, one cannot: its GBK script name reaches the terminal in the terminal's encoding.
printf 'sipIpAddr=127.0.0.1\nsipIpPort=0\nsipTcpPort=0\n' > SipCfg.ini
printf 'FORM_TITLE=%s\nVIR_LINES_NUM=0\nTOTAL_LINES_NUM=2\nLOAD_DELAY=5\n0=ok.kvs\n1=\xc8\xb1.kvs\n' "$TITLE" > ZuZodRun.cfg
start
wait_text err.txt "zuzod: 2 lines (SIP 2)"
grep -qx "line 1: script 缺.kvs: No such file or directory" err.txt || fail "a GBK script name garbled on the terminal"
stop_with TERM

# ---- mistakes among good lines: each named with the file read and its line, on standard error and in the run log,
# before the start line; the defaults stand (the monitor keeps port 2004, and stays off without connections)
printf 'FORM_TITLE=%s\nVIR_LINES_NUM=0\nTOTAL_LINES_NUM=2\nLOAD_DELAY=5\nLOG_FILE=mist.txt\n7ok.kvs\n8-x=ok.kvs\nBOGUS_KEY=1\nMONITOR_PORT=abc\nIS_WRITE_LOG=maybe\n// a comment\n\n0-1=wait.kvs\n' "$TITLE" > mine.cfg
printf 'Print("w\\n");\nr = WaitRing(1)\n' > wait.kvs
rm -f _stdout0.txt _stdout1.txt
start --config mine.cfg
wait_text err.txt "zuzod: 2 lines (SIP 2)"
for w in "mine.cfg:6: no '=' in \"7ok.kvs\"; line ignored" \
    'mine.cfg:7: line list "8-x" is not line numbers and ranges (as in 0-3,7); it names no line' \
    "mine.cfg:8: unknown key BOGUS_KEY ignored" "mine.cfg:9: MONITOR_PORT=abc is not a number; 2004 kept" \
    "mine.cfg:10: IS_WRITE_LOG=maybe is not yes, no or a number; 0 used"; do
    grep -qxF "zuzod: $w" err.txt || fail "not said on standard error: $w"
    grep -qF "[$w]" mist*.txt || fail "not in the run log: $w"
done
(( $(grep -c "^zuzod: mine.cfg:" err.txt) == 5 )) || fail "a warning said twice, or one too many"
grep -q "monitor off" err.txt || fail "the monitor's default was not kept"
# Every script running: each reloads at its next statement (here: leaves its wait for a call), the file unread.
# Signalled once both scripts run (a line still starting when the reload comes may not see it).
wait_text _stdout0.txt w
wait_text _stdout1.txt w
kill -USR1 $PID
wait_text err.txt "zuzod: reload: done: 2 lines reloaded, 2 running"
grep -qxF "zuzod: reload: 2 lines read their script again, each at its next statement (mine.cfg is read at start only)" \
    err.txt || fail "the reload's beginning was not said"
grep -qF "[reload: 2 lines read their script again" mist*.txt || fail "the reload's beginning is not in the run log"
grep -qF "[reload: done: 2 lines reloaded, 2 running]" mist*.txt || fail "the reload's end is not in the run log"
stop_with TERM
exit 0
