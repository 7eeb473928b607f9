#!/bin/sh
# One bounded fuzz run, as CTest starts it (label fuzz):
#   run.sh TARGET SECONDS WORK_DIR CORPUS_DIR
# New inputs go to WORK_DIR/corpus; the committed CORPUS_DIR is only read. A
# crash's input is printed as base64, so a CI log alone reproduces it.
set -eu
target=$1 seconds=$2 work=$3 corpus=$4
rm -rf "$work/artifacts"
mkdir -p "$work/corpus" "$work/artifacts"
# -close_fd_mask=2 drops the program's own messages, not the fuzzer's reports.
if "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=2 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$corpus"; then
    exit 0
fi
for crash in "$work/artifacts"/*; do
    [ -f "$crash" ] || continue
    echo "reproducer $(basename "$crash") (base64; decode it into a file and run $target FILE):"
    base64 -w 76 "$crash"
done
exit 1
