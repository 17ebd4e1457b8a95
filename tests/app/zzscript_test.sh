#!/usr/bin/env bash
# zzscript as an operator runs it: --help on standard output, a wrong option refused; a script that does not
# compile says each error on standard error, "file(line): message, statement", in the terminal's encoding (UTF-8
# for the C locale, the GBK bytes as they are for a GBK one), warnings too with --check; errmsg1.txt stays GBK.
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
gbk() { printf '%s' "$1" | iconv -f UTF-8 -t GBK; }

[[ $(run --help) == 0 ]] || fail "--help: exit status"
grep -q "^usage: zzscript " out.txt && [[ ! -s err.txt ]] || fail "--help: the usage is not on standard output alone"
[[ $(run --bogus x.kvs) == 2 ]] || fail "a wrong option: exit status"
grep -q "^usage: zzscript " err.txt && [[ ! -s out.txt ]] || fail "a wrong option: the usage is not on standard error"

gbk $'n = 1;\nPrint("中文", 2);\n' > bad.kvs
want='bad.kvs(2): 操作参数太多, Print("中文", 2);'
for loc in C.UTF-8 C POSIX; do
    [[ $(LC_ALL=$loc run bad.kvs) == 1 ]] || fail "$loc: a script that does not compile: exit status"
    grep -qxF -- "$want" err.txt || fail "$loc: the error is not on standard error in UTF-8"
    grep -qF "zzscript: 'bad.kvs' does not compile (see errmsg1.txt)" err.txt || fail "$loc: no closing line"
done
# A GBK locale that this machine may not have installed still names the terminal's encoding.
[[ $(LC_ALL=zh_CN.GBK run bad.kvs 2>/dev/null) == 1 ]] || fail "GBK: exit status"
grep -qxF -- "$(gbk "$want")" err.txt || fail "GBK: the error is not on standard error in GBK"
grep -qxF -- "$(gbk "[Error]$want")" errmsg1.txt || fail "errmsg1.txt does not keep its GBK entry"

gbk $'const N = 1;\nconst N = 1;\n' > warn.kvs
[[ $(LC_ALL=C.UTF-8 run --check warn.kvs) == 0 ]] || fail "--check with a warning: exit status"
grep -qxF "warn.kvs(2): 常量重复定义, const N = 1;" err.txt || fail "the warning is not on standard error"
echo "zzscript_test: ok"
