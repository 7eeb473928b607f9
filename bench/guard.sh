#!/usr/bin/env bash
# A guard on speed that the machine's load cannot sway: counts, not times.
# On the generated data of N apps (default 2000) it counts with strace the
# system calls of applist and of the floor (bench/floor.c), and with callgrind
# their instructions, per app and net of each program's empty run, and fails
# when one is over its limit:
#   openat, pread64 and close: exactly the floor's
#   fstat, lseek and brk per app: none, that is as many in all as in a run
#     of one app (stdio's fstat and brk before its first write are once a run)
#   instructions per app: at most target_instructions times the floor's
#   the empty run (APPS empty): at most target_empty times /bin/true's
#     instructions (both targets set in bench/lib.sh)
# It prints every count either way. Needs strace, valgrind and gcc (see need).
#
# Usage: bench/guard.sh [N]     APPLIST=path checks that binary instead of
#                               the release preset's build
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-2000}
[[ $n =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [N]" >&2 && exit 2; }

# shellcheck source=bench/lib.sh
source bench/lib.sh
need strace valgrind gcc
bench_setup
use_data "$n"
same_bytes "$n"
counts "$n"
APPS=$(head -n 1 "$work/$n/apps")
read -r -a one < <(syscalls "$APPLIST")
APPS=''
read -r -a none < <(syscalls "$APPLIST")

over=0
row() { # MEASURE APPLIST FLOOR LIMIT HOLDS: HOLDS is an awk condition, or empty for no limit
    local verdict=
    if [[ -n $5 ]]; then
        verdict=ok
        awk "BEGIN {exit !($5)}" || { verdict=OVER && over=$((over + 1)); }
    fi
    printf '%-26s %14s %14s   %-36s %s\n' "$1" "$2" "$3" "$4" "$verdict"
}

echo "speed guard on $APPLIST, N=$n (per app, net of the empty run; in all)"
printf '%-26s %14s %14s   %-36s %s\n' measure applist floor limit result
for i in "${!calls[@]}"; do
    case ${calls[i]} in
    openat | pread64 | close) limit="the floor's" holds="${net_a[i]} == ${net_f[i]}" ;;
    fstat | lseek | brk)
        once=$((one[i] - none[i]))
        limit="none; a run of one app makes $once" holds="${net_a[i]} == $once"
        ;;
    *) limit='' holds='' ;;
    esac
    row "${calls[i]}/app" "${per_a[i]} (${net_a[i]})" "${per_f[i]} (${net_f[i]})" "$limit" "$holds"
done
row "instructions/app" "$(printf %.0f "$ipa")" "$(printf %.0f "$ipf")" \
    "<= $target_instructions x floor: $(ratio "$ipa" "$ipf")" "$ipa <= $target_instructions * $ipf"
row "empty run instructions" "$ea_i" "$ef_i" \
    "<= $target_empty x /bin/true ($true_i): $(ratio "$ea_i" "$true_i")" "$ea_i <= $target_empty * $true_i"

if ((over)); then
    echo "speed guard: FAIL: $over count(s) over the limit" >&2
    exit 1
fi
echo "speed guard: every count within its limit"
