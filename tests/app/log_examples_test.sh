#!/usr/bin/env bash
# The log clean-up examples do what the README says: systemd-tmpfiles removes run logs not written for 7 days from
# the log folder and keeps the newer ones; logrotate moves RawLog.txt aside without making a new one. Skips (77)
# where either tool is missing: the platform itself needs neither.
set -euo pipefail
EXAMPLES="$1"
for tool in systemd-tmpfiles logrotate; do
    command -v "$tool" >/dev/null || PATH="$PATH:/usr/sbin" command -v "$tool" >/dev/null ||
        { echo "skipped: no $tool"; exit 77; }
done
export PATH="$PATH:/usr/sbin"
ROOT="$(mktemp -d /tmp/zz_logexamples.XXXXXX)"
trap 'rm -rf "$ROOT"' EXIT
fail() { echo "FAILED: $*"; find "$ROOT" | sort; exit 1; }

LOG="$ROOT/srv/ivr/log"
mkdir -p "$LOG"
for f in msg_log20240101_093000.txt msg_log20240101_093000_001.txt; do
    echo old > "$LOG/$f"
    touch -d '10 days ago' "$LOG/$f"
done
echo recent > "$LOG/msg_log20240110_120000.txt"
touch -d '2 days ago' "$LOG/msg_log20240110_120000.txt"
echo now > "$LOG/msg_log20240112_080000.txt"
echo script > "$ROOT/srv/ivr/demo.kvs"
touch -d '10 days ago' "$ROOT/srv/ivr/demo.kvs"
systemd-tmpfiles --root="$ROOT" --clean "$EXAMPLES/logs/zuzod-tmpfiles.conf"
[[ ! -e "$LOG/msg_log20240101_093000.txt" && ! -e "$LOG/msg_log20240101_093000_001.txt" ]] ||
    fail "old run logs kept"
[[ -e "$LOG/msg_log20240110_120000.txt" && -e "$LOG/msg_log20240112_080000.txt" ]] || fail "newer run logs removed"
[[ -e "$ROOT/srv/ivr/demo.kvs" ]] || fail "a file outside the log folder removed"

sed "s|/srv/ivr/|$ROOT/srv/ivr/|" "$EXAMPLES/logs/zuzod-logrotate.conf" > "$ROOT/logrotate.conf"
seq 1000 > "$ROOT/srv/ivr/RawLog.txt"
logrotate -f -s "$ROOT/logrotate.state" "$ROOT/logrotate.conf"
[[ -e "$ROOT/srv/ivr/RawLog.txt.1.gz" && ! -e "$ROOT/srv/ivr/RawLog.txt" ]] || fail "RawLog.txt not moved aside"
[[ "$(zcat "$ROOT/srv/ivr/RawLog.txt.1.gz" | wc -l)" == 1000 ]] || fail "RawLog.txt's lines not kept"
echo "log examples: ok"
