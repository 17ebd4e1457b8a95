#!/usr/bin/env bash
# What the logs take per SIP call at each IS_WRITE_LOG level: for every level 0 to 3, a running zuzod's lines
# answer CALLS calls that SIPp places on loopback, of two kinds: "key" callers press 1 and the line hangs up
# (quick.xml), "bye" callers hang up while the line waits for a key (byes.xml). Each line's script plays a
# prompt, waits up to 20 s for one key and hangs up. Prints the bytes and lines per call that the run log and
# RawLog.txt grew by, and keeps the logs in the work folder.
#
#   bench/telephony/sip/logsize.sh [CALLS]      (default 200 calls of each kind, 20 a second)
#
# ZUZOD names the program (default build-rel/app/zuzod); LOGSIZE_DIR the working folder kept afterwards (default a
# new folder under /tmp). Needs sipp, sox, socat.
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
ROOT="$(cd "$HERE/../../.." && pwd)"
CALLS="${1:-200}"
RATE=20
LINES=64
ZUZOD="${ZUZOD:-$ROOT/build-rel/app/zuzod}"
WORK="${LOGSIZE_DIR:-$(mktemp -d /tmp/zz_logsize.XXXXXX)}"
for tool in sipp sox socat; do
    command -v "$tool" >/dev/null || { echo "logsize: $tool is needed" >&2; exit 77; }
done
[[ -x "$ZUZOD" ]] || { echo "logsize: no $ZUZOD (build it: cmake --build build-rel -t zuzod)" >&2; exit 1; }

free_udp_port() {
    python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

# Lines waiting and calls hung up, from the print files (w when a line waits, h once it has hung up).
line_states() {
    awk '{ last[FILENAME] = substr($0, 1, 1) } /^h/ { h++ }
        END { for (f in last) w += last[f] == "w"; print w + 0, h + 0 }' _stdout*.txt 2>/dev/null || echo 0 0
}
wait_lines() { # until every line waits and $1 calls were hung up, at most a minute
    local w h
    for _ in $(seq 240); do
        read -r w h < <(line_states)
        [[ "$w" -ge "$LINES" && "$h" -ge "$1" ]] && return 0
        sleep 0.25
    done
    echo "logsize: the lines did not settle ($w waiting, $h hung up)" >&2
    return 1
}
sizes() { # bytes and lines of the run log's files and of RawLog.txt
    local run raw
    run=$({ cat run*.txt 2>/dev/null || true; } | wc -c -l | awk '{ print $2, $1 }')
    raw=$({ cat RawLog.txt 2>/dev/null || true; } | wc -c -l | awk '{ print $2, $1 }')
    echo "$run $raw"
}

sox -n -r 8000 -c 1 -e a-law "$WORK/prompt.wav" synth 0.5 sine 440 vol 0.5
printf "%-6s %-5s %14s %14s %14s %14s\n" level call "run log B" "run log lines" "RawLog B" "RawLog lines"
for level in 0 1 2 3; do
    for kind in key bye; do
        dir="$WORK/level$level-$kind"
        mkdir -p "$dir/nocard"
        cd "$dir"
        cp "$WORK/prompt.wav" .
        cat > line.kvs <<EOF
keys = "";
Print("w\n");
r = WaitRing(1);
if(r < 0)
{
    return(r);
}
Play("prompt.wav");
n = GetKeys(keys, 1, 20);
Hangup();
Print("h" + keys + "\n");
EOF
        cat > ZuZodRun.cfg <<EOF
FORM_TITLE=ZzLogSize$$
VIR_LINES_NUM=0
IS_WRITE_LOG=$level
LOG_FILE=run.txt
LOAD_DELAY=5
MONITOR_MAX_CONN=0
0-$((LINES - 1))=line.kvs
EOF
        sip_port="$(free_udp_port)"
        rx_port="$(free_udp_port)"
        printf "sipIpAddr=127.0.0.1\nsipIpPort=%s\nsipTcpPort=%s\nrtpBasePort=32000\nmsrpPort=0\n" \
            "$sip_port" "$sip_port" > SipCfg.ini
        socat -u "UDP4-RECV:$rx_port,bind=127.0.0.1" /dev/null &
        sink=$!
        pids+=("$sink")
        SHCTI_APPPATH="$dir/nocard/" LANG=C.UTF-8 "$ZUZOD" --headless --config "$dir/ZuZodRun.cfg" > zuzod.out 2>&1 &
        zpid=$!
        pids+=("$zpid")
        wait_lines 0
        read -r run0 runl0 raw0 rawl0 < <(sizes)
        scenario=quick.xml
        [[ "$kind" == bye ]] && scenario=byes.xml
        sipp -sf "$HERE/$scenario" -i 127.0.0.1 -p "$(free_udp_port)" -mi 127.0.0.1 -m "$CALLS" -l "$CALLS" \
            -r "$RATE" -set rxport "$rx_port" -d 500 -nostdin -trace_err -error_file "$dir/sipp_err.log" \
            -timeout $((CALLS / RATE + 60)) "127.0.0.1:$sip_port" > sipp.out 2>&1 || true
        wait_lines "$CALLS"
        read -r run1 runl1 raw1 rawl1 < <(sizes)
        kill "$zpid" "$sink"
        wait "$zpid" "$sink" 2>/dev/null || true
        awk -v l="$level" -v k="$kind" -v n="$CALLS" -v a="$((run1 - run0))" -v b="$((runl1 - runl0))" \
            -v c="$((raw1 - raw0))" -v d="$((rawl1 - rawl0))" \
            'BEGIN { printf "%-6s %-5s %14.0f %14.1f %14.0f %14.1f\n", l, k, a / n, b / n, c / n, d / n }'
    done
done
echo "logsize: logs kept in $WORK"
