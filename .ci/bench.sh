#!/usr/bin/env bash
# Benchmark smoke run: checks that applist, the floor loop and the bash
# baseline give the same bytes and prints the table. No timing threshold: a
# shared machine's timings are never a pass/fail test. Then the speed guard,
# which fails on counts of system calls and instructions, never on times.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=tools/common.sh
source tools/common.sh
need cmake g++

echo "== benchmark smoke run (bench/run.sh --quick 200)"
bash bench/run.sh --quick 200
echo "== speed guard (bench/guard.sh 2000)"
bash bench/guard.sh 2000
