#!/usr/bin/env bash
# A soak of a running zuzod's SIP lines: SIPp places CALLS calls at RATE a second on loopback against 1024 lines
# whose script answers, plays a prompt, waits for a key and hangs up; zuzod's resident memory, open descriptors
# and threads, and the lines in a call, are sampled every few seconds into a CSV. The figures to read: memory and
# descriptors flat once the calls overlap as they will, every call answered and hung up by its line, and at the
# end no line in a call and every line waiting for the next.
#
#   bench/telephony/sip/soak.sh [--vanish] [--tcp] [CALLS [RATE]]      (defaults 20000 calls at 100 a second)
#   bench/telephony/sip/soak.sh [--tcp] --series "200:60 500:60 900:60"
#
# --series: one zuzod takes runs in a row, each RATE a second for SECONDS, then IDLE_S (default 60) with no call;
# the resident memory after each run (once every line waits again) and after the idle time is printed.
# --vanish: callers that vanish once answered (no RTP, no BYE): each line ends its call after the minute of
# silence (keep RATE x 70 below the 1024 lines, e.g. 2000 calls at 10 a second).
# --tcp: SIPp calls over one TCP connection (its -t t1) instead of UDP.
# ZUZOD names the program (default build-rel/app/zuzod, a Release build); SOAK_DIR the working folder kept
# afterwards (default a new folder under /tmp); SAMPLE_S the sampling period (default 5); RTP_BASE the lines' first
# RTP port (default 30000; a second soak at the same time takes another below 32768, where the system's own
# sockets begin); SETTLE_S the seconds after which the summary gives the least and most memory (default a tenth
# of the run). Needs sipp, sox, socat.
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
ROOT="$(cd "$HERE/../../.." && pwd)"
SCENARIO=quick.xml
GETKEYS_S=20
TRANSPORT=u1
SERIES=""
while [[ "${1:-}" == --* ]]; do
    case "$1" in
    --vanish)
        SCENARIO=vanish.xml
        GETKEYS_S=600 # only the silence ends these calls
        ;;
    --tcp) TRANSPORT=t1 ;;
    --series)
        SERIES="$2"
        shift
        ;;
    *) echo "soak: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
CALLS="${1:-20000}"
RATE="${2:-100}"
IDLE_S="${IDLE_S:-60}"
RTP_BASE="${RTP_BASE:-30000}"
ZUZOD="${ZUZOD:-$ROOT/build-rel/app/zuzod}"
SAMPLE_S="${SAMPLE_S:-5}"
WORK="${SOAK_DIR:-$(mktemp -d /tmp/zz_soak.XXXXXX)}"
mkdir -p "$WORK"
for tool in sipp sox socat; do
    command -v "$tool" >/dev/null || { echo "soak: $tool is needed" >&2; exit 77; }
done
[[ -x "$ZUZOD" ]] || { echo "soak: no $ZUZOD (build it: cmake --build build-rel -t zuzod)" >&2; exit 1; }

free_udp_port() {
    python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
SIP_PORT="$(free_udp_port)"
RX_PORT="$(free_udp_port)"
LINES=1024

cd "$WORK"
sox -n -r 8000 -c 1 -e a-law prompt.wav synth 1 sine 440 vol 0.5
# A line prints w when it waits, a when answered and h<keys> once it has hung up: the last letter of its print
# file tells where it is.
cat > soak.kvs <<EOF
keys = "";
Print("w\n");
r = WaitRing(1);
if(r < 0)
{
    return(r);
}
Print("a\n");
Play("prompt.wav");
n = GetKeys(keys, 1, $GETKEYS_S);
Hangup();
Print("h" + keys + "\n");
EOF
cat > ZuZodRun.cfg <<EOF
FORM_TITLE=ZzSoak$$
VIR_LINES_NUM=0
IS_WRITE_LOG=1
LOG_FILE=run.txt
LOAD_DELAY=5
MONITOR_MAX_CONN=0
0-$((LINES - 1))=soak.kvs
EOF
cat > SipCfg.ini <<EOF
sipIpAddr=127.0.0.1
sipIpPort=$SIP_PORT
sipTcpPort=$SIP_PORT
rtpBasePort=$RTP_BASE
msrpPort=0
EOF
mkdir -p nocard

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

# The lines' RTP goes to a sink.
socat -u "UDP4-RECV:$RX_PORT,bind=127.0.0.1" /dev/null &
pids+=($!)
SHCTI_APPPATH="$WORK/nocard/" LANG=C.UTF-8 "$ZUZOD" --headless --config "$WORK/ZuZodRun.cfg" > zuzod.out 2>&1 &
ZPID=$!
pids+=($ZPID)

# The lines waiting and in a call (from the last letter of every print file), the calls hung up and those of
# them hung up after the key 1.
line_states() {
    awk '{ last[FILENAME] = substr($0, 1, 1) } /^h/ { h++ } /^h1/ { k++ }
        END { for (f in last) { w += last[f] == "w"; a += last[f] == "a" } print w + 0, a + 0, h + 0, k + 0 }' \
        _stdout*.txt 2>/dev/null || echo 0 0 0 0
}

# Every line waiting for its first call.
for _ in $(seq 600); do
    read -r w _ _ _ < <(line_states)
    [[ "$w" -ge "$LINES" ]] && break
    kill -0 "$ZPID" 2>/dev/null || { echo "soak: zuzod ended at start" >&2; cat zuzod.out >&2; exit 1; }
    sleep 0.5
done
if [[ -n "$SERIES" ]]; then
    echo "soak: $LINES lines waiting; runs $SERIES then ${IDLE_S} s idle ($SCENARIO), work folder $WORK"
else
    echo "soak: $LINES lines waiting; $CALLS calls at $RATE a second ($SCENARIO), work folder $WORK"
fi

echo "seconds,rss_kib,fds,threads,lines_waiting,lines_in_call,hung_up" > samples.csv
START=$(date +%s)
sample() {
    local rss fds thr w a h
    rss=$(awk '/^VmRSS/{print $2}' "/proc/$ZPID/status")
    thr=$(awk '/^Threads/{print $2}' "/proc/$ZPID/status")
    fds=$(ls "/proc/$ZPID/fd" | wc -l)
    read -r w a h _ < <(line_states)
    echo "$(($(date +%s) - START)),$rss,$fds,$thr,$w,$a,$h" >> samples.csv
}
rss_now() { awk '/^VmRSS/{print $2}' "/proc/$ZPID/status"; }

# One SIPp run of $1 calls at $2 a second, sampled until it ends and every line waits again.
run_calls() {
    local calls="$1" rate="$2" sipp_pid
    sipp -sf "$HERE/$SCENARIO" -t "$TRANSPORT" -i 127.0.0.1 -p "$(free_udp_port)" -mi 127.0.0.1 -m "$calls" -l "$calls" -r "$rate" \
        -set rxport "$RX_PORT" -d 2000 -nostdin -bg -trace_err -error_file "$WORK/sipp_err.log" -trace_stat \
        -stf "$WORK/sipp_stat.csv" -fd 5 -timeout $((calls / rate + 300)) -max_socket 65000 \
        "127.0.0.1:$SIP_PORT" > sipp.out 2>&1 || true # in the background SIPp's starter answers 1
    sipp_pid=$(grep -o 'PID=\[[0-9]*\]' sipp.out | tr -dc 0-9)
    [[ -n "$sipp_pid" ]] || { echo "soak: SIPp did not start" >&2; cat sipp.out >&2; exit 1; }
    pids+=($sipp_pid)
    while kill -0 "$sipp_pid" 2>/dev/null; do
        sleep "$SAMPLE_S"
        sample
    done
    SIPP_END=$(($(date +%s) - START))
    # The calls still up end (at most the minute of silence and the hang-up): sampled until every line waits.
    for _ in $(seq $((120 / SAMPLE_S + 1))); do
        read -r w _ _ _ < <(line_states)
        [[ "$w" -ge "$LINES" ]] && break
        sleep "$SAMPLE_S"
        sample
    done
    sample
}
sample
if [[ -n "$SERIES" ]]; then
    summary="soak: RSS $(rss_now) KiB before the calls"
    for step in $SERIES; do
        rate="${step%%:*}"
        secs="${step##*:}"
        run_calls $((rate * secs)) "$rate"
        summary+=", $(rss_now) after ${rate}/s for ${secs} s"
    done
    for _ in $(seq $((IDLE_S / SAMPLE_S))); do
        sleep "$SAMPLE_S"
        sample
    done
    summary+=", $(rss_now) after ${IDLE_S} s idle"
    echo "$summary"
else
    run_calls "$CALLS" "$RATE"
fi

read -r w a h k < <(line_states)
stats=$(tail -1 sipp_stat.csv)
col() { head -1 sipp_stat.csv | tr ';' '\n' | grep -n "^$1\$" | cut -d: -f1; }
ok=$(echo "$stats" | cut -d';' -f"$(col 'SuccessfulCall(C)')")
failed=$(echo "$stats" | cut -d';' -f"$(col 'FailedCall(C)')")
echo "soak: SIPp's last run ended after ${SIPP_END} s: $ok calls successful, $failed failed (SIPp's view)"
echo "soak: the lines hung up $h calls, $k of them after the key 1"
echo "soak: at the end $w of $LINES lines waiting, $a in a call"
awk -F, -v settle="${SETTLE_S:-}" 'NR == 2 { first = $0 } NR > 1 { n++; rows[n] = $0 }
    END {
        split(rows[int(n / 10) + 1], e, ","); split(rows[n], z, ",");
        max = 0; for (i = 1; i <= n; i++) { split(rows[i], r, ","); if (r[2] > max) max = r[2]; if (r[3] > maxfd) maxfd = r[3] }
        split(first, f, ",");
        printf "soak: RSS %d KiB before the calls, %d at a tenth of the run, %d at the end (peak %d); descriptors %d, %d, %d (peak %d); threads %d at the end\n",
            f[2], e[2], z[2], max, f[3], e[3], z[3], maxfd, z[4]
        if (settle == "") { split(rows[n], z, ","); settle = z[1] / 10 }
        lo = 0; hi = 0
        for (i = 1; i <= n; i++) {
            split(rows[i], r, ",")
            if (r[1] < settle) continue
            if (lo == 0 || r[2] < lo) lo = r[2]
            if (r[2] > hi) hi = r[2]
        }
        printf "soak: RSS from %d s to the end between %d and %d KiB\n", settle, lo, hi
    }' samples.csv
echo "soak: samples in $WORK/samples.csv"
[[ "$a" -eq 0 && "$w" -ge "$LINES" ]]
