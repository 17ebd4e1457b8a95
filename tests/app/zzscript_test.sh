#!/usr/bin/env bash
# zzscript as an operator runs it: --help on standard output, a wrong option refused.
set -euo pipefail
ZZ="$1"
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
cd "$DIR"

fail() { echo "FAIL: $*"; for f in out.txt err.txt; do [[ -e $f ]] && { echo "--- $f"; cat -A $f | head -20; }; done; exit 1; }
run() { # the exit status; out.txt and err.txt hold the output
    local rc=0
    "$ZZ" "$@" >out.txt 2>err.txt || rc=$?
    echo $rc
}

[[ $(run --help) == 0 ]] || fail "--help: exit status"
grep -q "^usage: zzscript " out.txt && [[ ! -s err.txt ]] || fail "--help: the usage is not on standard output alone"
[[ $(run --bogus x.kvs) == 2 ]] || fail "a wrong option: exit status"
grep -q "^usage: zzscript " err.txt && [[ ! -s out.txt ]] || fail "a wrong option: the usage is not on standard error"

echo "zzscript_test: ok"
