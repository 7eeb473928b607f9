#!/usr/bin/env bash
# Reproducible packages, checked here alone: two clean clones of the last
# commit, in different folders, each run the README's package command with
# nothing set by hand; the .deb and the source tarball must be the same
# bytes. Then the tarball, unpacked where no git gives the time, must make
# the same .deb again, from the time it keeps.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=tools/common.sh
source tools/common.sh
need git cmake g++ dpkg-dev file

# package DIR: the README's package command in DIR, with no time set by hand.
package() {
    (cd "$1" && env -u SOURCE_DATE_EPOCH cmake --workflow --preset package >"$1.log" 2>&1) ||
        fail "cmake --workflow --preset package in $1: $(tail -n 20 "$1.log")"
}

# same FILE OTHER: the two are the same bytes, or their listings differ.
same() {
    cmp "$1" "$2" && return 0
    case $1 in
    *.deb) list() { dpkg-deb -c "$1"; } ;;
    *) list() { tar -tvzf "$1"; } ;;
    esac
    diff <(list "$1") <(list "$2") >&2 || true
    return 1
}

echo "== reproducible packages (two clean clones of $(git rev-parse --short HEAD))"
# One folder for all the builds: the Installed-Size that CPack writes counts
# directory sizes, which differ between filesystems.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for side in one two; do
    git clone -q . "$work/$side"
    package "$work/$side"
done
count=0
for file in "$work"/one/build/release/applist_*.deb "$work"/one/build/release/applist-*.tar.gz; do
    [[ -f $file ]] || fail "the clone made no $file"
    name=${file##*/}
    same "$file" "$work/two/build/release/$name" || fail "$name differs between the two clones"
    echo "ok: $name is the same in both clones: $(sha256sum <"$file" | cut -c1-16)"
    count=$((count + 1))
done
((count == 2)) || fail "expected a .deb and a tarball, compared $count files"

echo "== the .deb from the source tarball"
mkdir "$work/tarball"
tar -xzf "$work"/one/build/release/applist-*.tar.gz -C "$work/tarball"
sources=("$work"/tarball/applist-*)
[[ -d ${sources[0]} ]] || fail "the tarball holds no applist-* folder"
package "${sources[0]}"
for deb in "$work"/one/build/release/applist_*.deb; do
    same "$deb" "${sources[0]}/build/release/${deb##*/}" || fail "the tarball makes another ${deb##*/}"
    echo "ok: the tarball makes the same ${deb##*/}"
done
