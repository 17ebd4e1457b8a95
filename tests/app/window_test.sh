#!/usr/bin/env bash
# zuzod with a display (Xvfb): the window comes up with its title and the demo lines, a screenshot of the
# screen is left beside the test and named in the output, virtual lines whose sound device does not open are told
# in one message box, and SIGTERM still stops it in order.
set -euo pipefail
ZUZOD="$1"
OUT="$2"
command -v xvfb-run >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null || {
    echo "SKIP: xvfb-run, xdotool or ImageMagick missing (scripts/install-deps installs them)"
    exit 77
}
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
cd "$DIR"
export LANG=C.UTF-8
# The SIP lines listen on loopback ports of their own, so that test runs side by side do not meet.
printf 'sipIpAddr=127.0.0.1\nsipIpPort=0\nsipTcpPort=0\n' > SipCfg.ini
# No card here: the virtual lines are 1024 and 1025, on a sound device that exists nowhere.
printf 'FORM_TITLE=ZzWindow%s\nIS_SHOW_FORM=YES\nIS_WRITE_LOG=2\nLOG_FILE=run.txt\nVIR_LINES_NUM=2\nLOAD_DELAY=5\n0-1=loop.kvs\n1024-1025=loop.kvs\nSOUND_OUT_DEVICE=zz_none\nSOUND_IN_DEVICE=zz_none\n' $$ >ZuZodRun.cfg
printf 'n = 0\nwhile (1)\n{\n    n = n + 1\n}\n' > loop.kvs
cat > inside.sh <<INNER
set -euo pipefail
"$ZUZOD" >out.txt 2>err.txt & PID=\$!
for _ in \$(seq 600); do grep -qs "1 Run: tId" run*.txt && break; sleep 0.05; done
for _ in \$(seq 600); do grep -qs "sound device" err.txt && break; sleep 0.05; done
WID=""
for _ in \$(seq 600); do WID=\$(xdotool search --name "ZzWindow$$" 2>/dev/null | head -1) && [[ -n "\$WID" ]] && break; sleep 0.05; done
[[ -n "\$WID" ]] || { echo "FAIL: no window"; cat err.txt; kill \$PID; exit 1; }
echo "window: \$(xdotool getwindowname \$WID)"
sleep 1 # two display ticks: the grid shows the running lines
import -window root "$OUT"
kill -TERM \$PID
wait \$PID
INNER
xvfb-run -a -s "-screen 0 1024x700x24" bash inside.sh
echo "screenshot: $OUT"
colours=$(convert "$OUT" -format %k info:)
(( colours > 8 )) || { echo "FAIL: the screenshot is blank ($colours colours)"; exit 1; }
grep -qFx '[Karvelian System] lines 1024-1025: the sound device "zz_none" cannot be opened (no such device)' err.txt &&
    [[ $(grep -c "sound device" err.txt) == 1 ]] && ! grep -q "ALSA" err.txt ||
    { echo "FAIL: the sound device is not told once"; cat err.txt; exit 1; }
# The window's own close ("Action = caFree;") is the last step after "Close Ok.".
tail -3 RawLog.txt | sed 's/^[^[]*\[\(.*\)\]$/\1/' > end.txt
[[ "$(cat end.txt)" == $'delete _logFp ...\nClose Ok.\nAction = caFree;' ]] || { echo "FAIL: not stopped in order"; cat end.txt; exit 1; }
