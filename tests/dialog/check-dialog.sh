#!/usr/bin/env bash
# Drives examples/show-apps and the real yad list dialog on a headless X
# server, for the sample data and for a data directory with awkward cases:
# the host must print the chosen name, pass on Cancel and yad's other exit
# statuses, list the apps in byte order whatever the locale, and stop before
# yad when applist, the data directory, its apps folder or a display is
# missing; the real yad, given the host's own options, must parse every row's
# five cells into the right columns. Leaves a screenshot of the sample dialog
# in OUT_DIR.
# Usage: check-dialog.sh APPLIST OUT_DIR
# CHECK_DIALOG_TIMEOUT: seconds for the whole check (120); CHECK_DIALOG_KEEP:
# set to keep the work files (streams, yad's rows and messages).
# Needs yad, Xvfb, xwininfo (x11-utils) and import (imagemagick); the order
# check also needs the Debian package locales, and says so when it is skipped.
set -euo pipefail

# The whole check runs under a timeout so that it can never hang; the TERM
# it sends on expiry goes through the cleanup below.
if [[ -z ${CHECK_DIALOG_TIMED:-} ]]; then
    CHECK_DIALOG_TIMED=1 exec timeout -k 10 "${CHECK_DIALOG_TIMEOUT:-120}" "$BASH" "$0" "$@"
fi

applist=$(realpath "$1")
out_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
show_apps=$root/examples/show-apps
# shellcheck source=tools/common.sh
source "$root/tools/common.sh"

for tool in yad Xvfb xwininfo import; do
    command -v "$tool" >/dev/null || fail "$tool not found"
done

# A fixed UTF-8 locale, and no session bus or accessibility bus that could
# start daemons this check would not own.
export LC_ALL=C.UTF-8 NO_AT_BRIDGE=1 DBUS_SESSION_BUS_ADDRESS=disabled:
unset DISPLAY WAYLAND_DISPLAY

tmp=$(mktemp -d)
xvfb_pid=
yad_pid=

# Whether PID is still running (a zombie child is not).
alive() {
    local stat
    read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
    stat=${stat##*) }
    [[ ${stat%% *} != Z ]]
}

# Ends one process this script started, by its id: TERM, then KILL.
stop() {
    local pid=$1 i
    [[ -n $pid ]] || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for ((i = 0; i < 50; i++)); do
        alive "$pid" || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    stop "$yad_pid"
    stop "$xvfb_pid"
    if [[ -n ${CHECK_DIALOG_KEEP:-} ]]; then
        echo "check-dialog: files kept in $tmp" >&2
    else
        rm -rf "$tmp"
    fi
}
trap cleanup EXIT
trap 'exit 124' TERM INT HUP

# Waits up to about 10 s for a command to succeed.
wait_for() {
    local i
    for ((i = 0; i < 100; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

start_xvfb() {
    # -displayfd: the server picks a free display and writes its number once
    # it accepts clients.
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset \
        3>"$tmp/display" 2>"$tmp/xvfb.log" &
    xvfb_pid=$!
    wait_for grep -qs . "$tmp/display" || { cat "$tmp/xvfb.log" >&2; fail "Xvfb did not start"; }
    DISPLAY=:$(head -n 1 "$tmp/display")
    export DISPLAY
}

# The data directory with the awkward cases: CRLF status files, an app with
# neither icon nor description, a name with a space, one that starts with a
# dash, a non-ASCII name, "&", "<" and tags in descriptions, and line ends
# that yad honours inside a file's first line: a carriage return in a status
# and in a description, classic Mac line ends and U+2029.
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

# A stand-in for yad that records its arguments, its input and its LC_ALL,
# then answers as FAKE_YAD_ANSWER says, like yad does: a name is OK on a row,
# printed with a trailing "|"; "" is OK with no row chosen, which prints
# nothing; exit=N ends with status N (1 Cancel, 252 Esc, 70 a timeout).
make_fake_yad() {
    mkdir -p "$tmp/bin"
    cat >"$tmp/bin/yad" <<'EOF'
#!/bin/sh
printf '%s\n' "$@" >"$FAKE_YAD_DIR/args"
printf '%s\n' "${LC_ALL-}" >"$FAKE_YAD_DIR/locale"
cat >"$FAKE_YAD_DIR/stream"
case $FAKE_YAD_ANSWER in
exit=*) exit "${FAKE_YAD_ANSWER#exit=}" ;;
'') ;;
*) printf '%s|\n' "$FAKE_YAD_ANSWER" ;;
esac
EOF
    chmod +x "$tmp/bin/yad"
}

# The check adds only a title through show-apps, so the dialog and the
# screenshot have the host's own default size.
extra_options() {
    printf '%s\n' "--title=$1"
}

# Runs show-apps (the last arguments, after the environment) with the stand-in
# yad recording into DIR: it must print MESSAGE on stderr, exit with STATUS,
# and not start yad.
expect_host_error() {
    local dir=$1 expected=$2 message=$3 got status=0
    shift 3
    rm -f "$dir/args"
    got=$(env FAKE_YAD_DIR="$dir" FAKE_YAD_ANSWER=x "$@" 2>&1 >/dev/null) || status=$?
    [[ $status -eq $expected && $got == "$message" ]] ||
        fail "expected status $expected and '$message', got status $status and '$got'"
    [[ ! -e $dir/args ]] || fail "yad was started after: $message"
}

# Runs show-apps on DATA with the stand-in yad giving ANSWER (see
# make_fake_yad): it must exit with STATUS and print nothing.
expect_answer() {
    local data=$1 dir=$2 title=$3 answer=$4 expected=$5 got status=0
    got=$(PATH=$tmp/bin:$PATH APPLIST=$applist FAKE_YAD_DIR=$dir FAKE_YAD_ANSWER=$answer \
        DISPLAY=:0 "$show_apps" "$data" "${extra[@]}" 2>/dev/null) || status=$?
    [[ $status -eq $expected && -z $got ]] ||
        fail "$title: yad's answer '$answer' gave status $status and output '$got', not $expected and none"
}

# A locale whose collation is not byte order ("calculator" before "Text
# Editor"), for the order check; nothing but C is sure to be installed, so it
# is built here, from the Debian package locales when that is installed.
make_collating_locale() {
    collating=
    if [[ ! -e /usr/share/i18n/locales/en_US ]]; then
        echo "${0##*/}: no en_US locale source (Debian package locales): app order not checked" >&2
        return 0
    fi
    mkdir -p "$tmp/locale"
    localedef -i en_US -f UTF-8 "$tmp/locale/en_US.UTF-8" >/dev/null 2>&1 ||
        fail "localedef could not build en_US.UTF-8"
    collating=en_US.UTF-8
}

# Runs show-apps on DATA under bash in the collating locale: the apps must
# come in byte order, and yad must still run in the caller's locale.
check_order() {
    local data=$1 dir=$2 title=$3 expected
    [[ -n $collating ]] || return 0
    expected=$(find "$data/apps" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort)
    # Unless the locale orders these apps otherwise, this check proves nothing.
    [[ $(find "$data/apps" -mindepth 1 -maxdepth 1 -printf '%f\n' |
        LOCPATH=$tmp/locale LC_ALL=$collating sort) != "$expected" ]] ||
        fail "$title: $collating sorts the apps in byte order, so their order goes unchecked"
    mkdir -p "$dir/order"
    PATH=$tmp/bin:$PATH APPLIST=$applist FAKE_YAD_DIR=$dir/order FAKE_YAD_ANSWER=x DISPLAY=:0 \
        LOCPATH=$tmp/locale LC_ALL=$collating bash "$show_apps" "$data" >/dev/null 2>&1 ||
        fail "$title: show-apps failed in $collating"
    diff -u <(printf '%s\n' "$expected") <(awk 'NR % 5 == 3' "$dir/order/stream") ||
        fail "$title: show-apps in $collating lists the apps in another order than bytes'"
    [[ $(<"$dir/order/locale") == "$collating" ]] ||
        fail "$title: yad ran with LC_ALL=$(<"$dir/order/locale"), not the caller's $collating"
}

# Runs show-apps on DATA with the stand-in yad; leaves the recorded yad
# arguments and stream in DIR for check_dialog. Checks the row count, what the
# host prints and returns for OK, for OK with no row chosen, for Cancel and
# for yad's other statuses, and that the options given to the host reach yad.
check_host() {
    local data=$1 dir=$2 title=$3 apps got status
    mkdir -p "$dir"
    apps=$(find "$data/apps" -mindepth 1 -maxdepth 1 -type d | wc -l)
    mapfile -t extra < <(extra_options "$title")
    # Either display variable is enough: WAYLAND_DISPLAY here, DISPLAY below.
    got=$(PATH=$tmp/bin:$PATH APPLIST=$applist FAKE_YAD_DIR=$dir FAKE_YAD_ANSWER='A b|c' \
        WAYLAND_DISPLAY=wayland-0 "$show_apps" "$data" "${extra[@]}" 2>"$dir/applist.err") ||
        fail "$title: show-apps exited with $? on OK"
    [[ $got == 'A b|c' ]] || fail "$title: show-apps printed '$got' for the name 'A b|c'"
    # The real yad in check_dialog gets these arguments; the host's own
    # options are judged there by what yad makes of them.
    [[ $(tail -n "${#extra[@]}" "$dir/args") == "$(printf '%s\n' "${extra[@]}")" ]] ||
        fail "$title: the options given to show-apps do not come last on yad's command line"
    (($(wc -l <"$dir/stream") == 5 * apps)) || fail "$title: stream is not five lines per app"
    expect_answer "$data" "$dir" "$title" '' 1   # OK with no row chosen
    expect_answer "$data" "$dir" "$title" exit=1 1
    expect_answer "$data" "$dir" "$title" exit=252 252
    expect_answer "$data" "$dir" "$title" exit=70 70
    # No program (neither APPLIST nor PATH has it), no data directory or no
    # apps folder in it: an empty dialog would say nothing, so the host stops
    # first. No display: yad would exit 1, as for Cancel. (A folder of its
    # own keeps the recorded command line for check_dialog.)
    mkdir -p "$dir/stopped" "$tmp/no-apps"
    expect_host_error "$dir/stopped" 2 \
        "show-apps: cannot run applist: set APPLIST to the program or put it on PATH" \
        PATH="$tmp/bin" APPLIST= DISPLAY=:0 "$show_apps" "$data"
    expect_host_error "$dir/stopped" 2 \
        "show-apps: cannot run $tmp/none/applist: set APPLIST to the program or put it on PATH" \
        PATH="$tmp/bin:$PATH" APPLIST="$tmp/none/applist" DISPLAY=:0 "$show_apps" "$data"
    expect_host_error "$dir/stopped" 2 "show-apps: no data directory at $tmp/none" \
        PATH="$tmp/bin:$PATH" APPLIST="$applist" DISPLAY=:0 "$show_apps" "$tmp/none"
    expect_host_error "$dir/stopped" 2 "show-apps: no apps folder in $tmp/no-apps" \
        PATH="$tmp/bin:$PATH" APPLIST="$applist" DISPLAY=:0 "$show_apps" "$tmp/no-apps"
    expect_host_error "$dir/stopped" 3 "show-apps: no display: set DISPLAY or WAYLAND_DISPLAY" \
        PATH="$tmp/bin:$PATH" APPLIST="$applist" "$show_apps" "$data"
    check_order "$data" "$dir" "$title"
}

window_of() {
    xwininfo -name "$1" 2>/dev/null | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p'
}

has_window() {
    [[ -n $(window_of "$1") ]]
}

# Shoots the window until two shots in a row are the same, so the rows and
# icons have been drawn.
screenshot() {
    local window=$1 target=$2 i
    import -window "$window" -strip png:"$tmp/shot-a.png"
    for ((i = 0; i < 50; i++)); do
        sleep 0.2
        import -window "$window" -strip png:"$tmp/shot-b.png"
        if cmp -s "$tmp/shot-a.png" "$tmp/shot-b.png"; then
            cp "$tmp/shot-b.png" "$target"
            return 0
        fi
        mv "$tmp/shot-b.png" "$tmp/shot-a.png"
    done
    fail "the dialog never settled for a screenshot"
}

# Shows the recorded stream in the real yad with the recorded command line,
# then reads back every row through --print-all on SIGUSR1.
check_dialog() {
    local dir=$1 title=$2 expected=$3 shot=${4:-} window status i
    mapfile -t args <"$dir/args"
    yad "${args[@]}" --print-all <"$dir/stream" >"$dir/rows" 2>"$dir/yad.err" &
    yad_pid=$!
    wait_for has_window "$title" || fail "$title: no yad window"
    window=$(window_of "$title")
    [[ -z $shot ]] || screenshot "$window" "$shot"
    kill -USR1 "$yad_pid"
    for ((i = 0; i < 100; i++)); do
        alive "$yad_pid" || break
        sleep 0.1
    done
    ! alive "$yad_pid" || fail "$title: yad did not end on SIGUSR1"
    status=0
    wait "$yad_pid" || status=$?
    yad_pid=
    ((status == 0)) || { cat "$dir/yad.err" >&2; fail "$title: yad exited with $status"; }
    diff -u "$expected" "$dir/rows" || fail "$title: yad's rows differ"
    echo "ok: $title: $(wc -l <"$dir/rows") rows, five cells each in place"
}

make_fixture "$tmp/fixture"
make_fake_yad
make_collating_locale
check_host "$root/examples/data" "$tmp/sample" applist-sample
check_host "$tmp/fixture" "$tmp/awkward" applist-awkward
echo "ok: show-apps prints the chosen name, passes on Cancel and yad's statuses," \
    "stops without applist, data, apps folder or display${collating:+, lists the apps in byte order in $collating}"

start_xvfb
mkdir -p "$out_dir"
check_dialog "$tmp/sample" applist-sample "$here/sample.rows" "$out_dir/screenshot.png"
check_dialog "$tmp/awkward" applist-awkward "$here/fixture.rows"
echo "ok: screenshot in $out_dir/screenshot.png"
