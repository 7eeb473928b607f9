#!/usr/bin/env bash
# Benchmark smoke run: checks that applist, the floor loop and the bash
# baseline give the same bytes and prints the table. No timing threshold: a
# shared machine's timings are never a pass/fail test.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=.ci/need.sh
source .ci/need.sh
need cmake g++

echo "== benchmark smoke run (bench/run.sh --quick 200)"
bash bench/run.sh --quick 200
