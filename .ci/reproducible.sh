#!/usr/bin/env bash
# Reproducible packages: two clean clones of the last commit, in different
# folders, each run the README's package command with nothing set by hand;
# the .deb and the source tarball must be the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=tools/common.sh
source tools/common.sh
need git cmake g++ dpkg-dev file

echo "== reproducible packages (two clean clones of $(git rev-parse --short HEAD))"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for side in one two; do
    git clone -q . "$work/$side"
    (cd "$work/$side" && env -u SOURCE_DATE_EPOCH cmake --workflow --preset package >"$work/$side.log" 2>&1) ||
        fail "cmake --workflow --preset package in a clone: $(tail -n 20 "$work/$side.log")"
done
count=0
for file in "$work"/one/build/release/applist_*.deb "$work"/one/build/release/applist-*.tar.gz; do
    [[ -f $file ]] || fail "the clone made no $file"
    name=${file##*/}
    if ! cmp "$file" "$work/two/build/release/$name"; then
        case $name in
        *.deb) list() { dpkg-deb -c "$1"; } ;;
        *) list() { tar -tvzf "$1"; } ;;
        esac
        diff <(list "$file") <(list "$work/two/build/release/$name") >&2 || true
        fail "$name differs between the two clones"
    fi
    echo "ok: $name is the same in both clones: $(sha256sum <"$file" | cut -c1-16)"
    count=$((count + 1))
done
((count == 2)) || fail "expected a .deb and a tarball, compared $count files"
