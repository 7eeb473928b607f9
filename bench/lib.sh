# shellcheck shell=bash
# Sourced by bench/run.sh and bench/guard.sh, from the top of the tree: the
# generated data, the floor, the byte-for-byte check and the counts that do
# not depend on the machine's load (system calls and instructions).

# shellcheck source=tools/common.sh
source tools/common.sh

# The targets, here alone: run.sh's summary names those it misses, and
# guard.sh fails on the two of instructions.
# shellcheck disable=SC2034 # used by the scripts that source this
{
    target_wall=1.05         # wall time at the largest N, times the floor's
    target_instructions=1.5  # instructions per app, times the floor's
    target_empty=1.1         # instructions of the empty run, times /bin/true's
    target_peak_kib=1536     # KiB that peak memory at the largest N stays below
}

# bench_setup: $APPLIST (the release preset's build unless set), a scratch
# folder $work removed at exit, and the floor built in it, $floor.
bench_setup() {
    if [[ -z ${APPLIST:-} ]]; then
        need_build release >/dev/null
        APPLIST=$PWD/build/release/applist
    fi
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    cc -O2 -o "$work/floor" bench/floor.c
    floor=$work/floor
}

use_data() { # N: makes (once) and selects the data of N apps
    [[ -d $work/$1 ]] || bash bench/gen-data.sh "$1" "$work/$1"
    export DIRECTORY=$work/$1/data
    APPS=$(<"$work/$1/apps")
    export APPS
}

same_bytes() { # N: all three give the same output, messages and status
    local name part status cmd
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

syscalls() { # CMD...: "total openat pread64 close write fstat lseek brk" of one run
    strace -f -c -o "$work/strace" "$@" >/dev/null 2>&1
    awk '$NF == "total" {t = $4} $1 ~ /^[0-9.]+$/ && NF >= 5 {c[$NF] = $4}
         END {print t + 0, c["openat"] + c["open"], c["pread64"] + 0, c["close"] + 0, c["write"] + 0,
              c["fstat"] + c["newfstatat"], c["lseek"] + 0, c["brk"] + 0}' "$work/strace"
}

instructions() { # CMD...: user-space instructions of one run
    valgrind --tool=callgrind --callgrind-out-file=/dev/null --log-file="$work/vg" "$@" \
        >/dev/null 2>&1
    awk '/Collected :/ {print $NF; found = 1} END {exit !found}' "$work/vg" ||
        { echo "callgrind counted no instructions for: $*" >&2 && return 1; }
}

per_app() { # TOTAL EMPTY N
    awk -v t="$1" -v e="$2" -v n="$3" 'BEGIN {printf "%.2f", (t - e) / n}'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

# counts N: on the data of N apps, net of each program's empty run, the
# system calls of applist and the floor in the order of $calls, as totals
# (net_a, net_f) and per app (per_a, per_f); their instructions per app (ipa,
# ipf); the empty runs' instructions (ea_i, ef_i) and /bin/true's (true_i).
# Leaves APPS empty.
calls=(total openat pread64 close write fstat lseek brk)
# shellcheck disable=SC2034 # the results are for the scripts that source this
counts() {
    local sa sf ea ef ia if_ i
    use_data "$1"
    read -r -a sa < <(syscalls "$APPLIST")
    read -r -a sf < <(syscalls "$floor")
    ia=$(instructions "$APPLIST")
    if_=$(instructions "$floor")
    APPS=''
    read -r -a ea < <(syscalls "$APPLIST")
    read -r -a ef < <(syscalls "$floor")
    ea_i=$(instructions "$APPLIST")
    ef_i=$(instructions "$floor")
    true_i=$(instructions /bin/true)
    net_a=() net_f=() per_a=() per_f=()
    for i in "${!calls[@]}"; do
        net_a+=($((sa[i] - ea[i])))
        net_f+=($((sf[i] - ef[i])))
        per_a+=("$(per_app "${sa[i]}" "${ea[i]}" "$1")")
        per_f+=("$(per_app "${sf[i]}" "${ef[i]}" "$1")")
    done
    ipa=$(per_app "$ia" "$ea_i" "$1")
    ipf=$(per_app "$if_" "$ef_i" "$1")
}
