# shellcheck shell=bash
# What bench/run.sh and bench/guard.sh share: the program measured, the
# generated data, the floor, the byte-for-byte check and the system calls.
set -euo pipefail
shopt -s inherit_errexit
export LC_ALL=C
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

die() {
    echo "${0##*/}: $*" >&2
    exit 1
}

# setup COMMAND=PACKAGE...: stops, naming the Debian packages of the commands
# missing; then $APPLIST, a scratch folder $work removed at exit and $floor.
setup() {
    local pair missing=()
    for pair; do
        command -v "${pair%%=*}" >/dev/null || missing+=("${pair#*=}")
    done
    ((${#missing[@]} == 0)) || die "missing tools; install the Debian packages: ${missing[*]}"
    if [[ -z ${APPLIST:-} ]]; then
        APPLIST=$top/build/release/applist
        [[ -x $APPLIST ]] || die "no $APPLIST; build it: cmake --workflow --preset demo"
    fi
    [[ -x $APPLIST ]] || die "APPLIST=$APPLIST is not a program"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    floor=$work/floor
    gcc -O2 -o "$floor" "$top/bench/floor.c"
}

use_data() { # N: makes (once) and selects the data of N apps
    [[ -d $work/$1 ]] || bash "$top/bench/gen-data.sh" "$1" "$work/$1"
    export DIRECTORY=$work/$1/data APPS
    APPS=$(<"$work/$1/apps")
}

# same_bytes: the floor and the baseline give applist's output, messages and
# exit status on the selected data; a faster program that printed something
# else would measure nothing.
same_bytes() {
    local name part
    for name in applist floor baseline; do
        case $name in
        applist) set -- "$APPLIST" ;;
        floor) set -- "$floor" ;;
        baseline) set -- bash "$top/bench/baseline.sh" ;;
        esac
        { "$@" >"$work/$name.output" 2>"$work/$name.messages" && echo 0 || echo $?; } \
            >"$work/$name.status"
    done
    for name in floor baseline; do
        for part in output messages status; do
            cmp -s "$work/applist.$part" "$work/$name.$part" || die "$name and applist differ in $part"
        done
    done
    echo "floor and baseline give applist's bytes: $(wc -c <"$work/applist.output") of output," \
        "$(wc -l <"$work/applist.messages") messages"
}

# calls CMD...: "name count" for each system call that CMD makes on the
# selected apps beyond those of a run of the first app alone, so that the
# calls made once a run (the loader's, stdio's) cancel.
calls() {
    strace -c -o "$work/all" "$@" >/dev/null 2>&1
    APPS=${APPS%%$'\n'*} strace -c -o "$work/first" "$@" >/dev/null 2>&1
    awk '$1 ~ /^[0-9.]+$/ && NF >= 5 && $NF != "total" {c[$NF] += FILENAME == ARGV[1] ? $4 : -$4}
         END {for (name in c) if (c[name]) print name, c[name]}' "$work/all" "$work/first" | sort
}

# both_calls: "name applist floor" for every call either of them makes.
both_calls() {
    calls "$APPLIST" >"$work/applist.calls"
    calls "$floor" >"$work/floor.calls"
    join -a 1 -a 2 -e 0 -o 0,1.2,2.2 "$work/applist.calls" "$work/floor.calls"
}
