#!/usr/bin/env bash
# Measures applist against the floor of its design (bench/floor.c, only the
# design's system calls) and against the same job in bash (bench/baseline.sh),
# side by side on generated data, after checking all three give the same
# bytes. Prints one table and a one-line summary. A full run's summary names
# every target it missed (the target_* of bench/lib.sh: wall time against the
# floor's at the largest N, instructions per app against the floor's, the
# empty run against /bin/true, peak memory), yet the exit status stays 0: a
# shared machine's timings are too noisy to be a pass/fail test
# (bench/guard.sh is the test, on counts).
#
# Usage: bench/run.sh [--quick] [N ...]     (default N: 1000 10000)
#   --quick  one round, few runs: a smoke run for CI, its wall times are noise
#   APPLIST=path  measure that binary instead of the release preset's build
#
# How long it takes grows with N (each program is started dozens of times on
# N apps, and the bash baseline is by far the slowest) and with the rounds (5,
# or 1 with --quick); it depends on the machine and whatever else runs on it;
# and valgrind runs each program once at the largest N, many times slower
# than natively. See bench/README.md for the times seen.
#
# Needs the Debian packages hyperfine, strace, valgrind, gcc and time. Run as
# root it installs those missing; anyone else gets their list and a failure
# before anything runs. Without APPLIST it builds the release preset first.
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

# shellcheck source=bench/lib.sh
source bench/lib.sh
need hyperfine strace valgrind gcc time
bench_setup
baseline="bash $root/bench/baseline.sh"

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

peak_kib() { # CMD...: median peak resident memory of 15 runs, KiB
    local i
    for ((i = 0; i < 15; i++)); do
        /usr/bin/time -f %M -o "$work/time" "$@" >/dev/null 2>&1
        cat "$work/time"
    done | median
}

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
counts "$big"
read -r empty_ratio empty_ms true_ms < <(wall "$APPLIST" /bin/true "$( ((quick)) && echo 10 || echo 100)")

row "syscalls/app, N=$big" "${per_a[0]}" "${per_f[0]}" "" "applist/floor $(ratio "${per_a[0]}" "${per_f[0]}")"
for i in 1 2 3 4 5 6 7; do
    row "  ${calls[i]}/app" "${per_a[i]}" "${per_f[i]}" "" ""
done
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
row "peak KiB, N=$big" "$mbig" "$fbig" "" "growth $(printf %+d "$((mbig - m10))") KiB (floor $(printf %+d "$((fbig - f10))")), APPS $apps_kib KiB"
libs=$(ldd "$APPLIST" | awk '$1 !~ /^(linux-vdso|\/)/ {print $1}' | paste -sd' ')
row "libraries (ldd)" "$libs" "" "" ""

echo
echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)," \
    "$(uname -sr); median of $rounds paired rounds"
printf '%-38s %12s %12s %12s   %s\n' "measure" "applist" "floor" "bash" "ratio"
printf '%s\n' "${rows[@]}"
echo
# One round of a few runs says nothing about speed; say so where a reader looks.
# A full run names each target it missed, in words, so that a reader of the
# summary alone cannot take a miss for a pass.
above() { awk "BEGIN {exit !($1)}"; }
summary=summary verdict=
if ((quick)); then
    summary="summary of a --quick run (one round: its wall ratios are noise, not a result)"
else
    missed=()
    if above "$wall_floor > $target_wall"; then
        missed+=("wall $(printf %.3f "$wall_floor")x floor > $target_wall")
    fi
    if above "$ipa > $target_instructions * $ipf"; then
        missed+=("instructions/app $(ratio "$ipa" "$ipf")x floor > $target_instructions")
    fi
    if above "$ea_i > $target_empty * $true_i"; then
        missed+=("empty run $(ratio "$ea_i" "$true_i")x /bin/true > $target_empty")
    fi
    if ((mbig >= target_peak_kib)); then
        missed+=("peak $mbig KiB >= $target_peak_kib")
    fi
    if ((${#missed[@]})); then
        verdict="; missed: $(printf '%s, ' "${missed[@]}")"
        verdict=${verdict%, }
    else
        verdict="; every target met"
    fi
fi
printf '%s: N=%s wall %sx floor (target <= %s), %sx bash; syscalls/app %s vs floor %s; instructions/app %sx floor (<= %s); empty run %sx /bin/true instructions (<= %s), libraries: %s; peak %s KiB at N=%s (< %s), %+d KiB from N=10 (floor %+d, APPS %s KiB)%s\n' \
    "$summary" "$big" "$(printf %.3f "$wall_floor")" "$target_wall" "$(printf %.3f "$wall_bash")" "${per_a[0]}" "${per_f[0]}" \
    "$(ratio "$ipa" "$ipf")" "$target_instructions" "$(ratio "$ea_i" "$true_i")" "$target_empty" "$libs" \
    "$mbig" "$big" "$target_peak_kib" "$((mbig - m10))" "$((fbig - f10))" "$apps_kib" "$verdict"
