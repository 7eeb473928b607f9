#!/usr/bin/env bash
# Reliability checks: the suite under ASan/UBSan, the end-to-end runs under
# valgrind, every fuzz target for a bounded time, clang-tidy and cppcheck.
# Runs on a clean clone, as root, on a fresh Debian 12 machine.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS=${FUZZ_SECONDS:-60}

# shellcheck source=.ci/need.sh
source .ci/need.sh
need cmake g++ libgtest-dev clang-14 clang-tidy-14 libclang-rt-14-dev cppcheck valgrind

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch" # the permission cases run the wrapper as nobody

echo "== sanitizers: the whole suite under ASan and UBSan, any report fails"
cmake --workflow --preset asan --fresh

echo "== valgrind: a failing wrapper must fail every end-to-end test"
cmake --preset ci --fresh >/dev/null
cmake --build --preset ci
suites=$(grep -ho '^TEST([A-Za-z]*' tests/cli_test.cpp tests/hostile_test.cpp |
    sed 's/TEST(//; s/$/.*/' | sort -u | paste -sd:)
printf '#!/bin/sh\n"$@"\nexit 99\n' >"$scratch/exit99"
chmod 755 "$scratch/exit99"
APPLIST_TEST_WRAPPER="$scratch/exit99" build/ci/tests/applist_tests --gtest_filter="$suites" \
    >"$scratch/exit99.log" 2>&1 || true
if grep '^\[       OK \]' "$scratch/exit99.log" || ! grep -q '^\[  FAILED  \]' "$scratch/exit99.log"; then
    echo "these end-to-end tests ignore the exit status of the program" >&2
    exit 1
fi

echo "== valgrind: a memcheck error must fail its test"
printf '#include <stdlib.h>\n__attribute__((constructor)) static void bad(void)\n{ volatile char *p = malloc(8); if (p[3] == 1) p[0] = 0; }\n' >"$scratch/bad.c"
gcc -O0 -shared -fPIC -o "$scratch/bad.so" "$scratch/bad.c"
chmod 755 "$scratch/bad.so"
if APPLIST_TEST_WRAPPER="env LD_PRELOAD=$scratch/bad.so valgrind -q --error-exitcode=99" \
    build/ci/tests/applist_tests --gtest_filter=List.MissingDirectoryStillGivesEveryRow \
    >"$scratch/bad.log" 2>&1; then
    cat "$scratch/bad.log"
    echo "a memcheck error went unnoticed" >&2
    exit 1
fi

echo "== valgrind: the whole suite with the program under memcheck"
APPLIST_TEST_WRAPPER="valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=all" \
    ctest --preset ci

echo "== fuzz: each target for ${FUZZ_SECONDS} s"
cmake --preset fuzz --fresh >/dev/null
cmake --build --preset fuzz
for target in list line row; do
    echo "-- fuzz_$target"
    mkdir -p "$scratch/corpus-$target" "$scratch/artifacts-$target"
    # New inputs go to the scratch corpus; the committed one is only read.
    # -close_fd_mask=2 drops the program's own messages, not the reports.
    if ! build/fuzz/fuzz/fuzz_$target -max_total_time="$FUZZ_SECONDS" -timeout=10 \
        -rss_limit_mb=2048 -close_fd_mask=2 -print_final_stats=1 \
        -artifact_prefix="$scratch/artifacts-$target/" \
        "$scratch/corpus-$target" "fuzz/corpus/$target"; then
        for crash in "$scratch/artifacts-$target"/*; do
            echo "reproducer $(basename "$crash") (base64; decode into a file and run" \
                "build/fuzz/fuzz/fuzz_$target FILE):"
            base64 -w 76 "$crash"
        done
        exit 1
    fi
done

echo "== clang-tidy on the program's sources"
cmake --preset tidy --fresh >/dev/null
cmake --build --preset tidy --clean-first

echo "== cppcheck"
cppcheck --project=build/tidy/compile_commands.json --enable=warning,performance,portability \
    --error-exitcode=1 --inline-suppr --quiet
cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr --quiet \
    --std=c++17 -I src fuzz/*.cpp
