#!/usr/bin/env bash
# Runs one script case through the zzscript runner in a fresh folder and compares what the run leaves behind
# (print file, error log, "Run returned" line, exit status) with the case's expectations.
#
# A case folder holds:
#   *.kvs        the script (main.kvs) and its includes, kept in UTF-8 here; converted to GBK for the run
#   args         optional: the runner's arguments (default "main.kvs")
#   expect       optional lines "exit N" (default 0) and "returned N" (the "Run returned N" line)
#   stdout.txt   the expected "_stdout<line>.txt" (UTF-8 here, compared as GBK bytes); absent: no such file
#   errmsg.txt   the expected "errmsg<line>.txt" (likewise); the compile time of the summary is masked
#   files/       optional: further files the run must leave in its folder, byte for byte (after GBK conversion)
#   output.txt   optional: lines that must each appear whole in the runner's standard output
#   pending      optional: why the case cannot pass yet (what it waits for); the case is skipped (exit 77)
#   input/       optional: files copied into the run's folder first (converted to GBK like the scripts)
#   needs        optional: names of environment variables the case needs (a server's address, a library built
#                by the tests), one a line; the case is skipped when one is unset, and @NAME@ in the scripts,
#                the input files and the env file is replaced by its value
#   env          optional: lines NAME=VALUE exported for the run
# Usage: run_case.sh ZZSCRIPT CASE_DIR
set -u
zz="$1"
case_dir="$2"
name=$(basename "$case_dir")
work=$(mktemp -d "${TMPDIR:-/tmp}/zzcase.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [[ -f "$case_dir/pending" ]]; then
    echo "$name: skipped: $(cat "$case_dir/pending")"
    exit 77
fi

needs=()
if [[ -f "$case_dir/needs" ]]; then
    while read -r var; do
        [[ -n "$var" ]] || continue
        if [[ -z "${!var:-}" ]]; then
            echo "$name: skipped: $var is not set"
            exit 77
        fi
        needs+=("$var")
    done <"$case_dir/needs"
fi
# @NAME@ of every needed variable, replaced by its value (a sed script; values may hold slashes).
subst=""
for var in "${needs[@]}"; do
    value=$(printf '%s' "${!var}" | sed -e 's/[|&\\]/\\&/g')
    subst+="s|@${var}@|${value}|g;"
done
prepare() { # source target
    iconv -f UTF-8 -t GBK "$1" >"$2.gbk" || { echo "$name: $1 is not convertible to GBK"; exit 2; }
    sed -e "$subst" "$2.gbk" >"$2" && rm -f "$2.gbk"
}
for f in "$case_dir"/*.kvs "$case_dir"/input/*; do
    [[ -f "$f" ]] || continue
    prepare "$f" "$work/$(basename "$f")"
done
if [[ -f "$case_dir/env" ]]; then
    while IFS= read -r line; do
        [[ -n "$line" ]] && export "$(printf '%s' "$line" | sed -e "$subst")"
    done <"$case_dir/env"
fi

args=(main.kvs)
[[ -f "$case_dir/args" ]] && read -r -a args <"$case_dir/args"
line=1
for ((i = 0; i < ${#args[@]}; i++)); do
    [[ "${args[i]}" == --line ]] && line="${args[i + 1]}"
done
exit_want=0
ret_want=""
if [[ -f "$case_dir/expect" ]]; then
    while read -r key val; do
        case "$key" in
        exit) exit_want="$val" ;;
        returned) ret_want="$val" ;;
        esac
    done <"$case_dir/expect"
fi

# The runner's output is read as GBK: it is the terminal, in that encoding.
(cd "$work" && LC_ALL=zh_CN.GBK exec timeout 60 "$zz" "${args[@]}" >run.out 2>run.err)
status=$?
failed=0
complain() {
    echo "$name: $*"
    failed=1
}

[[ "$status" == "$exit_want" ]] || complain "exit status $status, expected $exit_want"
if [[ -n "$ret_want" ]] && ! grep -qx "Run returned $ret_want" "$work/run.out"; then
    complain "no line 'Run returned $ret_want' in the runner's output"
fi

if [[ -f "$case_dir/output.txt" ]]; then
    while IFS= read -r want_line; do
        iconv -f GBK -t UTF-8 -c "$work/run.out" | grep -qxF -- "$want_line" ||
            complain "no line '$want_line' in the runner's output"
    done <"$case_dir/output.txt"
fi

# The compile time of the summary line varies from run to run.
time_word=$(printf '编译时间: ' | iconv -f UTF-8 -t GBK)
mask() { LC_ALL=C sed -E "s/(${time_word})[0-9]+\.[0-9]+/\1#/" "$1"; }

compare() { # expected-file actual-name
    local want="$1" got="$work/$2"
    if [[ ! -f "$want" ]]; then
        [[ -e "$got" ]] && complain "$2 was written but none was expected:" && iconv -f GBK -t UTF-8 -c "$got" | cat -A
        return
    fi
    if [[ ! -f "$got" ]]; then
        complain "$2 was not written"
        return
    fi
    iconv -f UTF-8 -t GBK "$want" >"$work/want.gbk" || { complain "$want is not convertible to GBK"; return; }
    if ! cmp -s <(mask "$work/want.gbk") <(mask "$got"); then
        complain "$2 differs (expected first, shown in UTF-8 with cat -A):"
        diff <(mask "$work/want.gbk" | iconv -f GBK -t UTF-8 -c | cat -A) \
            <(mask "$got" | iconv -f GBK -t UTF-8 -c | cat -A)
    fi
}
compare "$case_dir/stdout.txt" "_stdout$line.txt"
compare "$case_dir/errmsg.txt" "errmsg$line.txt"
if [[ -d "$case_dir/files" ]]; then
    for f in "$case_dir"/files/*; do
        compare "$f" "$(basename "$f")"
    done
fi

if ((failed)); then
    echo "--- runner stdout:"
    iconv -f GBK -t UTF-8 -c "$work/run.out" | head -50
    echo "--- runner stderr:"
    iconv -f GBK -t UTF-8 -c "$work/run.err" | head -50
    exit 1
fi
echo "$name: ok"
