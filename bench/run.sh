#!/usr/bin/env bash
# Measures applist against the floor of its design (bench/floor.c) and the
# same job in bash (bench/baseline.sh) on generated data, once all three are
# seen to give the same bytes, and prints one table: wall times (hyperfine),
# system calls (strace) and user-space instructions (callgrind) per app, the
# empty run (APPS empty) and peak memory, each beside /bin/true's where that
# says something. It judges nothing: one run's times on a shared machine are
# no result, and bench/guard.sh tests the counts.
#
# Usage: bench/run.sh [N ...]   (default: 1000 10000; the counts at the last)
#        APPLIST=path measures that binary instead of build/release/applist
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"
(($#)) || set -- 1000 10000
for n; do [[ $n =~ ^[1-9][0-9]*$ && $n -ge 2 ]] || die "usage: $0 [N ...], each N at least 2"; done
setup hyperfine=hyperfine strace=strace valgrind=valgrind gcc=gcc /usr/bin/time=time
baseline="bash $top/bench/baseline.sh"

rows=()
row() { rows+=("$(printf '%-26s %10s %10s %10s %10s   %s' "$@")"); }
div() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# wall RUNS CMD...: the median milliseconds of each command over 5 rounds,
# then the median over the rounds of the first one's time over each other's.
# A round times them back to back, so that a busy moment of a shared machine
# weighs on each.
wall() {
    local column
    for _ in 1 2 3 4 5; do
        hyperfine -N --style none --warmup 1 --runs "$1" --export-csv "$work/wall" "${@:2}" \
            >/dev/null 2>"$work/hyperfine" || die "hyperfine failed: $(cat "$work/hyperfine")"
        awk -F, 'NR > 1 {printf "%.2f ", $4 * 1000} END {print ""}' "$work/wall"
    done >"$work/rounds"
    for ((column = 1; column < $#; column++)); do
        printf '%s ' "$(cut -d' ' -f$column "$work/rounds" | median)"
    done
    for ((column = 2; column < $#; column++)); do
        printf '%s ' "$(awk -v c=$column '{printf "%.3f\n", $1 / $c}' "$work/rounds" | median)"
    done
    echo
}

instructions() { # CMD...: user-space instructions of one run, the loader's and libc's too
    valgrind --tool=callgrind --callgrind-out-file=/dev/null --log-file="$work/vg" "$@" >/dev/null 2>&1
    awk '/Collected :/ {print $NF; found = 1} END {exit !found}' "$work/vg" ||
        die "callgrind counted nothing for $*"
}

per_app() { # CMD...: instructions per app, less a run of the first app alone
    local all first
    all=$(instructions "$@")
    first=$(APPS=${APPS%%$'\n'*} instructions "$@")
    echo $(((all - first) / (big - 1)))
}

peak() { # CMD...: the median peak resident memory of 9 runs, in KiB
    for _ in 1 2 3 4 5 6 7 8 9; do
        /usr/bin/time -f %M -o "$work/time" "$@" >/dev/null 2>&1
        cat "$work/time"
    done | median
}

for n; do
    use_data "$n"
    same_bytes
    read -r a f b rf rb < <(wall $((n > 2000 ? 5 : 10)) "$APPLIST" "$floor" "$baseline")
    row "wall ms, N=$n" "$a" "$f" "$b" "" "applist/floor $rf, applist/bash $rb"
done
big=$n

# Per app, less a run of the first app alone: what is done once a run cancels.
both_calls >"$work/calls"
read -r ca cf < <(awk '{a += $2; f += $3} END {print a, f}' "$work/calls")
row "system calls/app, N=$big" "$(div "$ca" $((big - 1)))" "$(div "$cf" $((big - 1)))" "" "" \
    "applist/floor $(div "$ca" "$cf")"
while read -r name ca cf; do
    row "  $name" "$(div "$ca" $((big - 1)))" "$(div "$cf" $((big - 1)))" "" "" ""
done <"$work/calls"
ia=$(per_app "$APPLIST")
if_=$(per_app "$floor")
row "instructions/app, N=$big" "$ia" "$if_" "" "" "applist/floor $(div "$ia" "$if_")"

pa=$(peak "$APPLIST") pf=$(peak "$floor") pt=$(peak /bin/true)
use_data 10
pa10=$(peak "$APPLIST") pf10=$(peak "$floor") pt10=$(peak /bin/true)

APPS=
ea=$(instructions "$APPLIST")
ef=$(instructions "$floor")
et=$(instructions /bin/true)
row "empty run, instructions" "$ea" "$ef" "" "$et" "applist/true $(div "$ea" "$et")"
read -r a f t _ rt < <(wall 30 "$APPLIST" "$floor" /bin/true)
row "empty run, wall ms" "$a" "$f" "" "$t" "applist/true $rt"
row "peak KiB, N=10" "$pa10" "$pf10" "" "$pt10" "applist $(printf %+d $((pa10 - pt10))) KiB over /bin/true"
row "peak KiB, N=$big" "$pa" "$pf" "" "$pt" "applist $(printf %+d $((pa - pt))) KiB over /bin/true"

echo
echo "$(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), $(uname -sr)"
printf '%-26s %10s %10s %10s %10s   %s\n' measure applist floor bash /bin/true ratio
printf '%s\n' "${rows[@]}" | sed 's/ *$//'
