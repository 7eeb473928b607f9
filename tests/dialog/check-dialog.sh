#!/usr/bin/env bash
# The real yad, given examples/show-apps' command line and applist's rows, must
# put every cell in its column, for the sample data and for awkward cells.
# Usage: check-dialog.sh APPLIST OUT_DIR; OUT_DIR gets screenshot.png, the
# sample dialog. CHECK_DIALOG_TIMEOUT: seconds for the whole check (60).
set -euo pipefail

# Whatever yad or Xvfb do, the check ends; the TERM on expiry fails it below.
[[ -n ${CHECK_DIALOG_TIMED:-} ]] ||
    CHECK_DIALOG_TIMED=1 exec timeout -k 10 "${CHECK_DIALOG_TIMEOUT:-60}" "$BASH" "$0" "$@"

fail() { echo "${0##*/}: FAIL: $*" >&2; exit 1; }
applist=$(realpath "$1") out_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
root=${here%/tests/dialog}
for tool in yad:yad Xvfb:xvfb xwininfo:x11-utils import:imagemagick; do
    command -v "${tool%:*}" >/dev/null || fail "${tool%:*} not found: install the Debian package ${tool#*:}"
done

# A fixed locale, Xvfb's display, and no bus daemons to outlive the check.
export LC_ALL=C.UTF-8 GDK_BACKEND=x11 NO_AT_BRIDGE=1 DBUS_SESSION_BUS_ADDRESS=disabled:
tmp=$(mktemp -d) xvfb_pid='' yad_pid=''
cleanup() { for pid in $yad_pid $xvfb_pid; do kill "$pid" || true; done 2>/dev/null; wait; rm -rf "$tmp"; }
trap cleanup EXIT
trap 'fail "timed out or interrupted"' TERM INT HUP
wait_for() { for _ in {1..100}; do "$@" && return; sleep 0.1; done; return 1; }
# True once a shot of window $1 equals the last one, kept in $2: drawn at last.
settled() {
    import -window "$1" -strip "png:$2.new"; cmp -s "$2" "$2.new" || { mv "$2.new" "$2"; false; }
}

# CRLF and CR line ends, U+2029, no icon or description, a space, a leading
# dash, non-ASCII, and "&", "<" and tags that yad must not take for markup.
make_fixture() {
    local d=$1
    mkdir -p "$d/icons" "$d/data/status" "$d/apps/Image Viewer" "$d/apps/bare" \
        "$d/apps/-rf" "$d/apps/café" "$d/apps/carriage" "$d/apps/classic-mac" "$d/apps/paragraph"
    cp "$root"/examples/data/icons/*.png "$d/icons/"
    cp "$root/examples/data/apps/calculator/icon-24.png" "$d/apps/Image Viewer/"
    cp "$root/examples/data/apps/terminal/icon-24.png" "$d/apps/-rf/"
    printf 'installed\r\n' >"$d/data/status/Image Viewer"
    printf 'Photos & pictures, <b>fast</b>\r\n' >"$d/apps/Image Viewer/description"
    printf 'updating\n' >"$d/data/status/-rf"
    printf 'Starts with a dash\n' >"$d/apps/-rf/description"
    printf 'uninstalled\r\n' >"$d/data/status/café"
    printf "Tom & Jerry's <i>cartoons</i> & more <\\n" >"$d/apps/café/description"
    printf 'installed\rjunk\n' >"$d/data/status/carriage"
    printf 'mid\rcr desc\n' >"$d/apps/carriage/description"
    printf 'one\rtwo\r' >"$d/apps/classic-mac/description"
    printf 'para\342\200\251sep\n' >"$d/apps/paragraph/description"
}

# The host runs a stand-in yad that records its command line and input, so the
# real yad gets just what the host gives it; --print-all prints every row on
# SIGUSR1. The title names the window for xwininfo and import.
check_dialog() {
    local data=$1 title=$2 expected=$3 dir=$tmp/$2 status=0
    mkdir -p "$dir"
    PATH=$tmp/bin:$PATH APPLIST=$applist REC=$dir "$root/examples/show-apps" "$data" \
        "--title=$title" >/dev/null 2>"$dir/host.err" || { cat "$dir/host.err" >&2; fail "$title: show-apps failed"; }
    mapfile -d '' -t args <"$dir/args"
    yad "${args[@]}" --print-all <"$dir/stream" >"$dir/rows" 2>"$dir/yad.err" &
    yad_pid=$!
    wait_for xwininfo -name "$title" >/dev/null 2>&1 || fail "$title: no yad window"
    wait_for settled "$title" "$dir/shot.png" || fail "$title: the dialog never settled for a screenshot"
    kill -USR1 "$yad_pid"
    wait "$yad_pid" || status=$?
    yad_pid=''
    ((status == 0)) || { cat "$dir/yad.err" >&2; fail "$title: yad exited with $status"; }
    diff -u "$expected" "$dir/rows" || fail "$title: yad's rows differ from ${expected##*/}"
    echo "ok: $title: $(wc -l <"$dir/rows") rows, each cell in its column"
}

mkdir -p "$tmp/bin" "$out_dir"
# The stand-in answers as for OK on a row, so that show-apps succeeds.
# shellcheck disable=SC2016 # the stand-in expands these, not this script
printf '%s\n' '#!/bin/sh' 'printf "%s\0" "$@" >"$REC/args"' 'cat >"$REC/stream"' 'echo "x|"' >"$tmp/bin/yad"
chmod +x "$tmp/bin/yad"
# -displayfd: the server picks a free display and writes it once it accepts clients.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
wait_for grep -qs . "$tmp/display" || { cat "$tmp/xvfb.log" >&2; fail "Xvfb did not start"; }
read -r display <"$tmp/display"
export DISPLAY=:$display
make_fixture "$tmp/fixture"
check_dialog "$root/examples/data" applist-sample "$here/sample.rows"
check_dialog "$tmp/fixture" applist-awkward "$here/fixture.rows"
cp "$tmp/applist-sample/shot.png" "$out_dir/screenshot.png"
echo "ok: screenshot in $out_dir/screenshot.png"
