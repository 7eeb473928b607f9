#!/usr/bin/env bash
# Reliability checks: the suite under ASan/UBSan, the end-to-end runs under
# valgrind, every fuzz target for a bounded time, clang-tidy and cppcheck:
# the steps of the workflow presets asan, memcheck, fuzz and tidy, which run
# the same way by hand (memcheck's tests on the dev build, fuzz configured
# for CI's length). Before memcheck counts, it proves that a wrapper's failure
# and a memcheck error fail their tests. Runs on a clean clone, as root, on a
# fresh Debian 12 machine.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=tools/common.sh
source tools/common.sh
need cmake g++ libgtest-dev clang-14 clang-tidy-14 libclang-rt-14-dev cppcheck valgrind

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch" # the permission cases run the wrapper as nobody

# all_failed LOG: the ctest run in LOG ran tests and every one of them failed.
all_failed() {
    grep -E '(Passed|tests passed)' "$1"
    grep -qE '^0% tests passed, ([1-9][0-9]*) tests failed out of \1$' "$1"
}

echo "== sanitizers: the whole suite under ASan and UBSan, any report fails"
cmake --workflow --preset asan --fresh

echo "== valgrind: a failing wrapper must fail every end-to-end test"
need_build dev
printf '#!/bin/sh\n"$@"\nexit 99\n' >"$scratch/exit99"
chmod 755 "$scratch/exit99"
APPLIST_TEST_WRAPPER="$scratch/exit99" ctest --preset dev -L e2e >"$scratch/exit99.log" 2>&1 || true
if ! all_failed "$scratch/exit99.log"; then
    echo "these end-to-end tests ignore the exit status of the program" >&2
    exit 1
fi

echo "== valgrind: a memcheck error must fail its test"
printf '#include <stdlib.h>\n__attribute__((constructor)) static void bad(void)\n{ volatile char *p = malloc(8); if (p[3] == 1) p[0] = 0; }\n' >"$scratch/bad.c"
gcc -O0 -shared -fPIC -o "$scratch/bad.so" "$scratch/bad.c"
chmod 755 "$scratch/bad.so"
APPLIST_TEST_WRAPPER="env LD_PRELOAD=$scratch/bad.so valgrind -q --error-exitcode=99" \
    ctest --preset dev -R '^List\.MissingDirectoryStillGivesEveryRow$' >"$scratch/bad.log" 2>&1 || true
if ! all_failed "$scratch/bad.log"; then
    cat "$scratch/bad.log"
    echo "a memcheck error went unnoticed" >&2
    exit 1
fi

echo "== valgrind: every end-to-end test with the program under memcheck"
ctest --preset memcheck

echo "== fuzz: each target for 60 s"
# The fuzz workflow's steps, with CI's length set where it configures.
cmake --preset fuzz --fresh -DAPPLIST_FUZZ_SECONDS=60 >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz

echo "== clang-tidy and cppcheck"
cmake --workflow --preset tidy --fresh
