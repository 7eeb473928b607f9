#!/usr/bin/env bash
# The speed guard, on counts the machine's load cannot move: on the data of N
# apps (default 2000), less a run of the first alone, applist must make each
# system call as often as the floor (bench/floor.c), as strace -c counts them
# by name. It prints the counts either way.
#
# Usage: bench/guard.sh [N]    APPLIST=path checks that binary instead of
#                              build/release/applist
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"
n=${1:-2000}
[[ $n =~ ^[1-9][0-9]*$ && $n -ge 2 ]] || die "usage: $0 [N], N at least 2"
setup strace=strace gcc=gcc
use_data "$n"
same_bytes

echo "system calls of $APPLIST and of the floor on $n apps, less those on the first alone:"
both_calls | awk -v apps=$((n - 1)) '
    BEGIN {printf "%-16s %10s %10s %8s\n", "call", "applist", "floor", "per app"}
    {
        bad += $2 != $3
        printf "%-16s %10d %10d %8.2f%s\n", $1, $2, $3, $2 / apps, $2 == $3 ? "" : "  DIFFERS"
    }
    END {exit bad > 0}' || die "FAIL: applist makes other system calls than the floor"
echo "speed guard: applist makes each system call as often as the floor"
