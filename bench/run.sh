#!/usr/bin/env bash
# Measures applist against the floor of its design (bench/floor.c, only the
# design's system calls) and against the same job in bash (bench/baseline.sh),
# side by side on generated data, after checking all three give the same
# bytes. Prints one table and a one-line summary; no timing is a pass/fail
# test here, a shared machine's timings are too noisy for that.
#
# Usage: bench/run.sh [--quick] [N ...]     (default N: 1000 10000)
#   --quick  one round, few runs (a smoke run for CI)
#   APPLIST=path  measure that binary instead of the release preset's build
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

quick=0
sizes=()
for arg; do
    case $arg in
    --quick) quick=1 ;;
    *[!0-9]* | '') echo "usage: $0 [--quick] [N ...]" >&2 && exit 2 ;;
    *) sizes+=("$arg") ;;
    esac
done
((${#sizes[@]})) || sizes=(1000 10000)
if ((quick)); then rounds=1; else rounds=5; fi

# shellcheck source=.ci/need.sh
source .ci/need.sh
need hyperfine strace valgrind gcc time

if [[ -z ${APPLIST:-} ]]; then
    cmake --preset release >/dev/null
    cmake --build --preset release >/dev/null
    APPLIST=$root/build/release/applist
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/floor" bench/floor.c
floor=$work/floor
baseline="bash $root/bench/baseline.sh"

use_data() { # N: makes (once) and selects the data of N apps
    [[ -d $work/$1 ]] || bash bench/gen-data.sh "$1" "$work/$1"
    export DIRECTORY=$work/$1/data
    APPS=$(<"$work/$1/apps")
    export APPS
}

same_bytes() { # N: all three give the same output, messages and status
    local name status
    for name in applist floor baseline; do
        case $name in
        applist) cmd=("$APPLIST") ;; floor) cmd=("$floor") ;; baseline) cmd=(bash bench/baseline.sh) ;;
        esac
        status=0
        "${cmd[@]}" >"$work/$name.out" 2>"$work/$name.err" || status=$?
        echo "$status" >"$work/$name.status"
    done
    for name in floor baseline; do
        for part in out err status; do
            if ! cmp -s "$work/applist.$part" "$work/$name.$part"; then
                echo "FAIL: $name differs from applist in standard ${part} at N=$1" >&2
                exit 1
            fi
        done
    done
    echo "N=$1: floor and baseline match applist byte for byte" \
        "($(wc -c <"$work/applist.out") bytes out, $(wc -l <"$work/applist.err") messages)"
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# wall A B RUNS: median over rounds of (median time of A / median time of B);
# each round times both back to back, so a busy moment hits both.
wall() {
    local r runs=$3
    for ((r = 0; r < rounds; r++)); do
        hyperfine -N --style none --warmup 2 --runs "$runs" --export-csv "$work/h.csv" \
            "$1" "$2" >/dev/null 2>&1
        awk -F, 'NR == 2 {a = $4} NR == 3 {print a / $4, a * 1000, $4 * 1000}' "$work/h.csv"
    done >"$work/rounds"
    printf '%s %s %s\n' "$(cut -d' ' -f1 "$work/rounds" | median)" \
        "$(cut -d' ' -f2 "$work/rounds" | median)" "$(cut -d' ' -f3 "$work/rounds" | median)"
}

syscalls() { # CMD...: "total openat read close write fstat lseek brk" of one run
    strace -f -c -o "$work/strace" "$@" >/dev/null 2>&1
    awk '$NF == "total" {t = $4} $1 ~ /^[0-9.]+$/ && NF >= 5 {c[$NF] = $4}
         END {print t + 0, c["openat"] + c["open"], c["read"] + 0, c["close"] + 0, c["write"] + 0,
              c["fstat"] + c["newfstatat"], c["lseek"] + 0, c["brk"] + 0}' "$work/strace"
}

instructions() { # CMD...: user-space instructions of one run
    valgrind --tool=callgrind --callgrind-out-file=/dev/null --log-file="$work/vg" "$@" \
        >/dev/null 2>&1
    awk '/Collected :/ {print $NF}' "$work/vg"
}

peak_kib() { # CMD...: median peak resident memory of 15 runs, KiB
    local i
    for ((i = 0; i < 15; i++)); do
        /usr/bin/time -f %M -o "$work/time" "$@" >/dev/null 2>&1
        cat "$work/time"
    done | median
}

per_app() { # TOTAL EMPTY N
    awk -v t="$1" -v e="$2" -v n="$3" 'BEGIN {printf "%.2f", (t - e) / n}'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

rows=()
row() { rows+=("$(printf '%-38s %12s %12s %12s   %s' "$@")"); }

big=${sizes[-1]}
for n in "${sizes[@]}"; do
    use_data "$n"
    same_bytes "$n"
    if ((quick)); then runs=5; bruns=2; elif ((n <= 2000)); then runs=30; bruns=5; else runs=10; bruns=3; fi
    read -r rf ta tf < <(wall "$APPLIST" "$floor" "$runs")
    read -r rb _ tb < <(wall "$APPLIST" "$baseline" "$bruns")
    row "wall ms, N=$n" "$(printf %.1f "$ta")" "$(printf %.1f "$tf")" "$(printf %.0f "$tb")" \
        "applist/floor $(printf %.3f "$rf"), applist/bash $(printf %.3f "$rb")"
    [[ $n != "$big" ]] || { wall_floor=$rf wall_bash=$rb; }
done

# Counts at the largest N, net of the empty run of the same program.
use_data "$big"
read -r -a sa < <(syscalls "$APPLIST")
read -r -a sf < <(syscalls "$floor")
ia=$(instructions "$APPLIST")
if_=$(instructions "$floor")
export APPS=""
read -r -a ea < <(syscalls "$APPLIST")
read -r -a ef < <(syscalls "$floor")
ea_i=$(instructions "$APPLIST")
ef_i=$(instructions "$floor")
true_i=$(instructions /bin/true)
read -r empty_ratio empty_ms true_ms < <(wall "$APPLIST" /bin/true "$( ((quick)) && echo 10 || echo 100)")

names=(total openat read close write fstat lseek brk)
per_a=() per_f=()
for i in "${!names[@]}"; do
    per_a+=("$(per_app "${sa[i]}" "${ea[i]}" "$big")")
    per_f+=("$(per_app "${sf[i]}" "${ef[i]}" "$big")")
done
row "syscalls/app, N=$big" "${per_a[0]}" "${per_f[0]}" "" "applist/floor $(ratio "${per_a[0]}" "${per_f[0]}")"
for i in 1 2 3 4 5 6 7; do
    row "  ${names[i]}/app" "${per_a[i]}" "${per_f[i]}" "" ""
done
ipa=$(per_app "$ia" "$ea_i" "$big")
ipf=$(per_app "$if_" "$ef_i" "$big")
row "instructions/app, N=$big" "$(printf %.0f "$ipa")" "$(printf %.0f "$ipf")" "" \
    "applist/floor $(ratio "$ipa" "$ipf")"
row "empty run instructions" "$ea_i" "$ef_i" "" "applist/true $(ratio "$ea_i" "$true_i") (/bin/true $true_i)"
row "empty run wall ms" "$(printf %.2f "$empty_ms")" "" "" \
    "applist/true $(printf %.3f "$empty_ratio") (/bin/true $(printf %.2f "$true_ms"))"

use_data 10
m10=$(peak_kib "$APPLIST")
f10=$(peak_kib "$floor")
use_data "$big"
apps_kib=$(awk -v b="${#APPS}" 'BEGIN {printf "%.0f", b / 1024}')
mbig=$(peak_kib "$APPLIST")
fbig=$(peak_kib "$floor")
row "peak KiB, N=10" "$m10" "$f10" "" ""
row "peak KiB, N=$big" "$mbig" "$fbig" "" "growth $((mbig - m10)) KiB (floor $((fbig - f10))), APPS $apps_kib KiB"
libs=$(ldd "$APPLIST" | awk '$1 !~ /^(linux-vdso|\/)/ {print $1}' | paste -sd' ')
row "libraries (ldd)" "$libs" "" "" ""

echo
echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)," \
    "$(uname -sr); median of $rounds paired rounds"
printf '%-38s %12s %12s %12s   %s\n' "measure" "applist" "floor" "bash" "ratio"
printf '%s\n' "${rows[@]}"
echo
printf 'summary: N=%s wall %sx floor (target <= 1.05), %sx bash; syscalls/app %s vs floor %s; instructions/app %sx floor (<= 1.5); empty run %sx /bin/true instructions (<= 1.1), libraries: %s; peak %s KiB at N=%s (< 1536), +%s KiB from N=10 (floor +%s, APPS %s KiB)\n' \
    "$big" "$(printf %.3f "$wall_floor")" "$(printf %.3f "$wall_bash")" "${per_a[0]}" "${per_f[0]}" \
    "$(ratio "$ipa" "$ipf")" "$(ratio "$ea_i" "$true_i")" "$libs" "$mbig" "$big" "$((mbig - m10))" "$((fbig - f10))" "$apps_kib"
