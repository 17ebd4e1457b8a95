#!/usr/bin/env bash
# zuzod on card lines of the simulated card, driven from outside over the control port: a call rings line 0, the
# script answers, plays a greeting and reads keys; the far end hears the greeting and the script prints the keys.
# An ISUP call on line 1 goes the same way and its answer messages go out. The start line counts every kind of
# line and says where the SIP lines and the control port listen; a sound device that does not open is one line.
# A start without a card folder shows nothing and says so in the run log; a card folder whose ShConfig.ini cannot
# be read is a card that did not start, its caption in the configured language.
set -euo pipefail
ZUZOD="$1"
DIR=$(mktemp -d)
PID=""
trap '[[ -n "$PID" ]] && kill $PID 2>/dev/null; rm -rf "$DIR"' EXIT
cd "$DIR"
mkdir card
printf 'ChannelTypes=0,11,5\nControlPort=0\n' > card/ShConfig.ini
# The SIP lines listen on loopback ports of their own, so that test runs side by side do not meet.
printf 'sipIpAddr=127.0.0.1\nsipIpPort=0\nsipTcpPort=0\n' > SipCfg.ini
# Two virtual lines on a sound device that exists nowhere: their card.kvs waits for the operator's call.
printf 'FORM_TITLE=ZzCard%s\nIS_WRITE_LOG=1\nIS_IMMEDIATE_LOG=1\nLOG_FILE=run.txt\nVIR_LINES_NUM=2\nLOAD_DELAY=5\n0-1=card.kvs\n1027-1028=card.kvs\nSOUND_OUT_DEVICE=zz_none\nSOUND_IN_DEVICE=zz_none\n' \
    "$$" > ZuZodRun.cfg
sox -n -r 8000 -c 1 -e a-law card/hello.wav synth 0.3 sine 440
cat > card.kvs <<'KVS'
caller = "";
keys = "";
r = WaitRing(1);
if(r < 0)
{
    return(r);
}
GetCallerId(caller);
Print("call from " + caller + "\n");
Play("card/hello.wav");
n = GetKeys(keys, 4, 30);
Print("keys " + keys + " " + n + "\n");
Hangup();
KVS

# The run log is dated: run<date>.txt.
runlog() { cat run*.txt 2>/dev/null || true; }

# Waits up to 30 s for a condition that normally holds within milliseconds.
wait_for() {
    for _ in $(seq 600); do eval "$1" && return 0; sleep 0.05; done
    echo "never: $1"; runlog; cat out.txt; exit 1
}

SHCTI_APPPATH="$DIR/card/" "$ZUZOD" > out.txt 2>&1 & PID=$!
wait_for '[[ -s card/ControlPort.txt ]]'
exec 3<>/dev/tcp/127.0.0.1/"$(cat card/ControlPort.txt)"
ask() {
    local reply=""
    echo "$1" >&3
    read -r reply <&3 || true
    echo "$reply"
}
wait_for 'runlog | grep -aq "not available in this build" || ask "JOURNAL 500" | grep -q "SsmGetPendingMode(0)"'
if runlog | grep -aq "not available in this build"; then
    echo "skipped: this build has no call-control builtins"
    exit 77
fi

# The start line: the lines by kind (the fax channel is no SIP line), the SIP ports as bound (any free one was
# asked for) and the control port; before it, the virtual lines' device in one line, ALSA's own words in the log.
wait_for 'grep -q "^zuzod: [0-9]* lines" out.txt'
read -r udp tcp < <(runlog | sed -n 's/.*SIP listening on 127.0.0.1: udp \([0-9]*\), tcp \([0-9]*\).*/\1 \2/p')
if [[ $udp == "$tcp" ]]; then sip="127.0.0.1:$udp UDP+TCP"; else sip="127.0.0.1 UDP $udp, TCP $tcp"; fi
grep -qF "zuzod: 1029 lines (external 2, fax 1, SIP 1024, virtual 2); SIP on $sip; card control port $(cat card/ControlPort.txt); log run" out.txt ||
    { cat out.txt; echo "the start line is not right"; exit 1; }
grep -qFx 'zuzod: lines 1027-1028: the sound device "zz_none" cannot be opened (no such device)' out.txt ||
    { cat out.txt; echo "the sound device is not named once"; exit 1; }
[[ $(grep -c "sound device" out.txt) == 1 ]] && ! grep -q "ALSA" out.txt || { cat out.txt; echo "ALSA reached the terminal"; exit 1; }
runlog | grep -aq "ALSA .*Unknown PCM zz_none" || { echo "ALSA's words are not in the run log"; exit 1; }

# An analogue call: the caller id comes with the ring.
wait_for '[[ $(ask "STATE 0") == "OK 0 type=0" ]]'
[[ $(ask "RING 0 5551234") == OK ]]
wait_for 'ask "PLAYED 0" | grep -q hello.wav'
[[ $(ask "DTMF 0 12#") == OK ]]
wait_for 'grep -q "keys 12 2" _stdout0.txt 2>/dev/null'
grep -q "call from 5551234" _stdout0.txt
[[ $(ask "SAVE 0 heard.wav") == "OK 2400" ]]
soxi "$DIR/card/saved/heard.wav" | grep -q "8000"
# What the platform writes (the run log holds the keys) is for its user and group only.
[[ -z $(stat -c '%A %n' run*.txt _stdout0.txt card/saved card/saved/heard.wav | grep -v -- '--- ') ]]
wait_for '[[ $(ask "STATE 0") == "OK 0 type=0" ]]'

# An ISUP call: called 12345, calling 8001; the address-complete and answer messages go back.
wait_for 'ask "JOURNAL 500" | grep -q "SsmGetPendingMode(1)"'
[[ $(ask "RING 1 8001 12345") == OK ]]
wait_for 'ask "ISUP 1" | grep -q " 850000020000010102000900"'
ask "ISUP 1" | grep -q "85000002000001010200061214013701"
[[ $(ask "DTMF 1 9#") == OK ]]
wait_for 'grep -q "keys 9 1" _stdout1.txt 2>/dev/null'
grep -q "call from 8001" _stdout1.txt

kill -TERM $PID
wait $PID
PID=""
runlog | grep -q "System Closed."

# Runs zuzod in the folder $1 with the card folder $2 and the configuration line $3 up to its start line.
start_in() {
    mkdir -p "$DIR/$1"
    cd "$DIR/$1"
    printf 'sipIpAddr=127.0.0.1\nsipIpPort=0\nsipTcpPort=0\n' > SipCfg.ini
    printf 'FORM_TITLE=ZzCard%s%s\nLOG_FILE=run.txt\n%s\n0-0=idle.kvs\n' "$$" "$1" "$3" > ZuZodRun.cfg
    printf 'r = WaitRing(1);\nreturn(r);\n' > idle.kvs
    LC_ALL=C.UTF-8 SHCTI_APPPATH="$2" "$ZUZOD" > out.txt 2>&1 & PID=$!
    wait_for 'grep -q "^zuzod: [0-9]* lines" out.txt'
    kill -TERM $PID
    wait $PID
    PID=""
}
for lang in ZH EN; do
    start_in "nocard$lang" "$DIR/nowhere/" "LANGUAGE_TYPE=$lang"
    runlog | grep -qF "no card (no ShConfig.ini in $DIR/nowhere/); no card lines" &&
        ! grep -q "card\|青岚舟\|Karvelian" out.txt || { cat out.txt; echo "no card is shown as a failure"; exit 1; }
    mkdir -p "$DIR/broken$lang/card/ShConfig.ini"
    start_in "broken$lang" "$DIR/broken$lang/card/" "LANGUAGE_TYPE=$lang"
    caption=$([[ $lang == EN ]] && echo "Karvelian System" || echo "青岚舟系统")
    grep -qF "[$caption] 初始化语音卡不成功, 返回值: -1" out.txt &&
        grep -qFx "cannot read $DIR/broken$lang/card/ShConfig.ini: Is a directory" out.txt ||
        { cat out.txt; echo "the card failure is not shown with its reason"; exit 1; }
done
