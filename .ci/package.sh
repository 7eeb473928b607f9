#!/usr/bin/env bash
# The man page, the install rules and the Debian package: lint the page,
# build the .deb, install it on this machine, use it, and remove it again.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=.ci/need.sh
source .ci/need.sh
need dpkg-dev file groff-base man-db

fail() {
    echo "package: FAIL: $*" >&2
    exit 1
}

echo "== man page"
lint=$(groff -ww -mandoc -z applist.1 2>&1)
[[ -z $lint ]] || fail "groff: $lint"
need mandoc
# -W style: all of -T lint but the conventions of the OpenBSD and NetBSD base
# systems, which want .Os empty where this page names its package. The check
# of cross-references looks yad(1) up among this machine's pages: a missing
# yad is no fault of the page, and the note that Debian keeps no mandoc.db
# goes to stderr.
lint=$(mandoc -T lint -W style applist.1 2>/dev/null |
    grep -vE ': STYLE: referenced manual not found: Xr yad 1( \([0-9]+ times\))?$' || true)
[[ -z $lint ]] || fail "mandoc: $lint"
# Every message of the README's table, in the man page's words.
page=$(MANWIDTH=200 man -l applist.1 2>/dev/null)
# shellcheck disable=SC2016 # the backquotes are the README's, not the shell's
messages=$(sed -n 's/^| `\(ERROR: [^`]*\|getLine(): [^`]*\)` |.*/\1/p' README.md)
count=0
while IFS= read -r message; do
    message=${message//\"APP\"/\"app\"}
    grep -qF -- "${message//REASON/reason}" <<<"$page" || fail "man page lacks: $message"
    count=$((count + 1))
done <<<"$messages"
((count == 10)) || fail "found $count messages in README.md, expected 10"
echo "ok: groff and mandoc lint clean, all $count messages listed"

echo "== Debian package"
cmake --workflow --preset package --fresh
debs=(build/release/applist_*_"$(dpkg --print-architecture)".deb)
if ((${#debs[@]} != 1)) || [[ ! -f ${debs[0]} ]]; then
    fail "expected one .deb, found: ${debs[*]}"
fi
deb=${debs[0]}
dpkg-deb -I "$deb" | grep -E '^ (Package|Version|Depends|Section|Maintainer):'
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}')
[[ $files == $'./usr/bin/applist\n./usr/share/man/man1/applist.1.gz' ]] ||
    fail "unexpected package contents: $files"
[[ $(dpkg-deb -f "$deb" Section) == utils ]] || fail "section is not utils"
[[ $(dpkg-deb -f "$deb" Depends) == *libc6* ]] || fail "no shlibs-derived Depends"
echo "ok: $deb holds the program and its man page"

! dpkg -s applist >/dev/null 2>&1 || fail "applist is already installed here; not replacing it"
trap 'dpkg -r applist >/dev/null 2>&1 || true' EXIT
# Minimal images exclude man pages from installs; this package needs its own.
dpkg -i --path-include='/usr/share/man/man1/applist.1.gz' "$deb"
[[ $(command -v applist) == /usr/bin/applist ]] || fail "applist is not /usr/bin/applist"
sh examples/demo.sh /usr/bin/applist examples/data >build/release/installed.out 2>&1
sh examples/demo.sh build/release/applist examples/data >build/release/built.out 2>&1
cmp build/release/installed.out build/release/built.out || fail "installed program differs"
grep -qxF '(installed) Add, subtract, multiply and divide' build/release/installed.out ||
    fail "installed program printed no sample row"
[[ $(man -w applist) == /usr/share/man/man1/applist.1.gz ]] || fail "man -w applist: $(man -w applist)"
echo "ok: /usr/bin/applist runs on examples/data; man -w applist finds its page"
dpkg -r applist
trap - EXIT
[[ ! -e /usr/bin/applist && ! -e /usr/share/man/man1/applist.1.gz ]] || fail "files left after removal"
echo "ok: removed cleanly"
