#!/usr/bin/env bash
# Times applist against the same job in bash (bench/baseline.sh) on generated
# data, once both are seen to give the same bytes, and counts applist's system
# calls per app. It judges nothing: one run's times on a shared machine are
# no result.
#
# Usage: bench/run.sh [N ...]   (default: 1000 10000; the counts at the last)
#        APPLIST=path measures that binary instead of build/release/applist
set -euo pipefail
shopt -s inherit_errexit
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
die() { echo "${0##*/}: $*" >&2 && exit 1; }

(($#)) || set -- 1000 10000
for n; do [[ $n =~ ^[1-9][0-9]*$ && $n -ge 2 ]] || die "usage: $0 [N ...], each N at least 2"; done
for tool in hyperfine strace; do # each from the Debian package of its name
    command -v $tool >/dev/null || die "needs $tool: apt-get install $tool"
done
APPLIST=${APPLIST:-$top/build/release/applist}
[[ -x $APPLIST ]] || die "no program at $APPLIST; build it: cmake --workflow --preset demo"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() { # NAME CMD...: its output, messages and exit status, in $work/NAME.*
    local name=$1
    shift
    { "$@" >"$work/$name.output" 2>"$work/$name.messages" && echo 0 || echo $?; } >"$work/$name.status"
}

for n; do
    bash "$top/bench/gen-data.sh" "$n" "$work/$n"
    export DIRECTORY=$work/$n/data APPS
    APPS=$(<"$work/$n/apps")
    # A faster program that printed something else would measure nothing.
    run applist "$APPLIST"
    run baseline bash "$top/bench/baseline.sh"
    for part in output messages status; do
        cmp -s "$work/applist.$part" "$work/baseline.$part" || die "baseline and applist differ in $part"
    done
    echo "N=$n: the same $(wc -c <"$work/applist.output") bytes of output, $(wc -l <"$work/applist.messages") messages"
    hyperfine -N --warmup 1 --runs $((n > 2000 ? 5 : 10)) -n applist "'$APPLIST'" \
        -n bash "bash '$top/bench/baseline.sh'"
done

# Less a run of the first app alone, so that what a run does once cancels.
strace -c -o "$work/all" "$APPLIST" >/dev/null 2>&1
APPS=${APPS%%$'\n'*} strace -c -o "$work/first" "$APPLIST" >/dev/null 2>&1
calls=$(awk '$1 ~ /^[0-9.]+$/ && NF >= 5 && $NF != "total" {c[$NF] += FILENAME == ARGV[1] ? $4 : -$4}
    END {for (name in c) if (c[name]) print name, c[name]}' "$work/all" "$work/first" | sort)
echo "system calls of applist on N=$n apps less those on the first alone, and per app:"
awk -v apps=$((n - 1)) '{printf "%-12s %7d %6.2f\n", $1, $2, $2 / apps; sum += $2}
    END {printf "%-12s %7d %6.2f\n", "all", sum, sum / apps}' <<<"$calls"
