#!/usr/bin/env bash
# The man page, the install rules and the packages: lint the page and check
# that it lists every message of the code, build the .deb and the source
# tarball from build/release, check the .deb with lintian, install it on this
# machine, check the program's hardening, use it, and remove it again; build
# and test the tarball in an empty folder. That the packages are reproducible
# is .ci/reproducible.sh's to check.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=tools/common.sh
source tools/common.sh
need cmake g++ dpkg-dev file groff-base man-db mandoc
# From the release build CI has made, or a new one when run on its own; a
# new commit since it was configured configures it again for the new time.
need_build release

echo "== man page"
# The page as the build configures it for this version, as it is installed.
page=build/release/applist.1
lint=$(groff -ww -mandoc -z "$page" 2>&1)
[[ -z $lint ]] || fail "groff: $lint"
# -W style: all of -T lint but the conventions of the OpenBSD and NetBSD base
# systems, which want .Os empty where this page names its package. The check
# of cross-references looks yad(1) up among this machine's pages: a missing
# yad is no fault of the page, and the note that Debian keeps no mandoc.db
# goes to stderr.
lint=$(mandoc -T lint -W style "$page" 2>/dev/null |
    grep -vE ': STYLE: referenced manual not found: Xr yad 1( \([0-9]+ times\))?$' || true)
[[ -z $lint ]] || fail "mandoc: $lint"
# Every message the program can print is an item of the page's DIAGNOSTICS.
# The messages are read from the code: the format strings of the
# fprintf(stderr, ...) calls in src/*.cpp, their split literals joined, and
# perror's prefix with the reason it adds. In them %.*s is the app, a %s before
# "()" each function name the code passes as a literal, any other %s the
# reason, and a number what the program prints there, asked of it (a run with
# too long a DIRECTORY, one with too long a status). The page's items are read
# as text: \(dq and \(aq as quotes, an italic placeholder (\fIapp\fP) as <app>,
# a closing mark that mdoc takes as its own argument back against its word.
printed=build/release/diagnostics
rm -rf "$printed" && mkdir -p "$printed/data/apps/a" "$printed/data/data/status"
echo text >"$printed/data/apps/a/description"
printf '%040d\n' 0 >"$printed/data/data/status/a"
{
    env APPS=a DIRECTORY="/$(printf '%04000d' 0)" build/release/applist || true
    env APPS=a DIRECTORY="$printed/data" build/release/applist || true
} 2>"$printed/stderr" >/dev/null
# shellcheck disable=SC2016 # Perl's variables, not the shell's
code_messages=$(perl -e '
    use strict; use warnings;
    local $/;
    my $printed = do { open my $f, "<", shift @ARGV or die "$!\n"; <$f> };
    my $code = join "", map { open my $f, "<", $_ or die "$_: $!\n"; <$f> } @ARGV;
    my $literal = qr/"((?:[^"\\]|\\.)*)"/;
    my %function = map { $_ => 1 } grep { $code =~ /\b\Q$_\E\s*\(/ } $code =~ /"([A-Za-z_]\w*)"/g;
    my @formats;
    while ($code =~ /fprintf\s*\(\s*stderr\s*,\s*((?:$literal\s*)+)/g) {
        my ($all, $format) = ($1, "");
        $format .= $1 while $all =~ /$literal/g;
        push @formats, $format;
    }
    push @formats, "$1: %s" while $code =~ /perror\s*\(\s*$literal\s*\)/g;
    for my $format (@formats) {
        $format =~ s/\\n$//;
        $format =~ s/\\(.)/$1/g;
        my @messages = $format =~ /%s\(\)/ ? map { $format =~ s/%s\(\)/$_()/r } sort keys %function : ($format);
        for my $message (@messages) {
            if ($message =~ /%(?:llu|zu)/) {
                my $pattern = join "", map { /^%(?:llu|zu)$/ ? "([0-9]+)" : /^%/ ? ".*?" : quotemeta }
                    split /(%\.\*s|%s|%llu|%zu)/, $message;
                my @numbers = $printed =~ /^$pattern$/m or die "the program printed no \"$message\"\n";
                $message =~ s/%(?:llu|zu)/shift @numbers/e while $message =~ /%(?:llu|zu)/;
            }
            $message =~ s/%\.\*s/<app>/g;
            $message =~ s/%s/<reason>/g;
            die "no reading of the conversion in \"$message\"\n" if $message =~ /%/;
            print "$message\n";
        }
    }' "$printed/stderr" src/*.cpp | LC_ALL=C sort -u) || fail "reading the messages of src/*.cpp"
page_messages=$(sed -n '/^\.Sh DIAGNOSTICS$/,/^\.Sh /{
    s/^\.It Li //
    T
    s/\\(dq/"/g
    s/\\(aq/'"'"'/g
    s/\\fI\([^\\]*\)\\f[PR]/<\1>/g
    s/\\&//g
    s/\\-/-/g
    s/\\e/\\/g
    s/ \([.,:;!?)]\)$/\1/
    p }' "$page" | LC_ALL=C sort -u)
[[ -n $code_messages ]] || fail "found no fprintf(stderr, ...) or perror message in src/*.cpp"
unlisted=$(LC_ALL=C comm -23 <(echo "$code_messages") <(echo "$page_messages"))
[[ -z $unlisted ]] || fail "the program prints messages that the DIAGNOSTICS of $page lack:"$'\n'"$unlisted"
stale=$(LC_ALL=C comm -13 <(echo "$code_messages") <(echo "$page_messages"))
[[ -z $stale ]] || fail "the DIAGNOSTICS of $page list messages the program never prints:"$'\n'"$stale"
echo "ok: groff and mandoc lint clean; the page lists the $(wc -l <<<"$code_messages") messages of the code"

echo "== Debian package"
need lintian devscripts binutils
cpack --preset package
cpack --preset source
arch=$(dpkg --print-architecture)
debs=(build/release/applist_*_"$arch".deb)
if ((${#debs[@]} != 1)) || [[ ! -f ${debs[0]} ]]; then
    fail "expected one .deb, found: ${debs[*]}"
fi
deb=${debs[0]}
version=${deb#build/release/applist_}
version=${version%_"$arch".deb}
dpkg-deb -I "$deb" | grep -E '^ (Package|Version|Depends|Section|Maintainer):'
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}')
[[ $files == "./usr/bin/applist
./usr/share/doc/applist/changelog.gz
./usr/share/doc/applist/copyright
./usr/share/man/man1/applist.1.gz" ]] || fail "unexpected package contents: $files"
# Owner root, 0755 directories and the program, 0644 everything else.
modes=$(dpkg-deb -c "$deb" | awk '{
    want = $1 ~ /^d/ || $NF == "./usr/bin/applist" ? "rwxr-xr-x" : "rw-r--r--"
    if (substr($1, 2) != want || $2 != "root/root") print $1, $2, $NF }')
[[ -z $modes ]] || fail "wrong mode or owner: $modes"
[[ $(dpkg-deb -f "$deb" Section) == utils ]] || fail "section is not utils"
[[ $(dpkg-deb -f "$deb" Depends) == *libc6* ]] || fail "no shlibs-derived Depends"
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/applist/copyright |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "copyright is not in the machine-readable format"
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/applist/changelog.gz | gzip -dc |
    head -n 1 | grep -qF "applist ($version) " || fail "changelog.gz does not start with $version"
echo "ok: $deb holds the program, its man page, copyright and changelog"

lint=$(lintian -EvIL +pedantic "$deb" 2>&1) || fail "lintian failed: $lint"
tags=$(grep -E '^[A-MO-Z]: ' <<<"$lint" || true)
[[ -z $tags ]] || fail "lintian: $tags"
echo "ok: lintian -EvIL +pedantic prints no tag"

! dpkg -s applist >/dev/null 2>&1 || fail "applist is already installed here; not replacing it"
trap 'dpkg -r applist >/dev/null 2>&1 || true' EXIT
# Minimal images exclude man pages from installs; this package needs its own.
dpkg -i --path-include='/usr/share/man/man1/applist.1.gz' "$deb"
[[ $(command -v applist) == /usr/bin/applist ]] || fail "applist is not /usr/bin/applist"
# Each hardening property is checked once, on an artifact that shows it:
# PIE, stack protector, fortify (its checked calls), RELRO and bind-now by
# hardening-check on the installed program.
hardening-check --nocfprotection /usr/bin/applist || fail "hardening-check /usr/bin/applist"
if [[ $arch == amd64 ]]; then
    # hardening-check knows only the probe loop of a frame of variable size;
    # the program's fixed frames of more than a page are probed a page at a
    # time, which is what stack clash protection adds.
    probes=$(objdump -d /usr/bin/applist | grep -A 1 -E '\ssub +.0x1000,%rsp$' |
        grep -cE '\sorq +.0x0,\(%rsp\)$' || true)
    ((probes > 0)) || fail "/usr/bin/applist has no stack clash probe"
    # Debian 12's C start files (Scrt1.o, crti.o, crtn.o) carry no IBT/SHSTK
    # note, so no program linked with them is marked for control-flow
    # protection: the program's own objects are asked.
    objects=$(find build/release/CMakeFiles/applist.dir build/release/CMakeFiles/applist_core.dir -name '*.o')
    [[ -n $objects ]] || fail "no object files of applist in build/release"
    for object in $objects; do
        readelf -n "$object" | grep -q 'x86 feature: IBT, SHSTK' ||
            fail "$object is not built with -fcf-protection"
    done
    echo "ok: /usr/bin/applist probes its stack; its objects are built for IBT and SHSTK"
fi
[[ -f /usr/share/doc/applist/copyright ]] || fail "no /usr/share/doc/applist/copyright"
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

echo "== source tarball"
need libgtest-dev
tarball=build/release/applist-$version.tar.gz
[[ -f $tarball ]] || fail "no $tarball"
listing=$(tar -tzf "$tarball")
stray=$(grep -vE "^applist-$version/" <<<"$listing" || true)
[[ -z $stray ]] || fail "outside applist-$version/: $stray"
stray=$(grep -E "^applist-$version/(build|\.git|\.cache)(/|$)" <<<"$listing" || true)
[[ -z $stray ]] || fail "the tarball holds: $stray"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
tar -xzf "$tarball" -C "$unpacked"
# The README's test command, in a folder that has only the tarball's files:
# the tarball holds all a build needs. That it makes the same .deb is
# .ci/reproducible.sh's to check.
(cd "$unpacked/applist-$version" && cmake --workflow --preset test)
echo "ok: $tarball builds and passes its tests on its own"
rm -rf "$unpacked"
trap - EXIT
