#!/usr/bin/env bash
# What a host author would write instead of applist: the same rows from the
# same DIRECTORY and APPS, in bash builtins alone (no program is started). It
# gives applist's bytes on the data of gen-data.sh and handles nothing that
# data lacks.
dir=$DIRECTORY

first_line() { # PATH: its first line, without the line end, in $line
    IFS= read -r line <"$1"
    line=${line%$'\r'}
}

status() { # APP DEFAULT: the app's status, in $status
    status=$2
    if [[ -r $dir/data/status/$1 ]]; then
        first_line "$dir/data/status/$1"
        status=$line
    fi
}

while IFS= read -r app; do
    [[ -n $app ]] || continue
    status "$app" none
    icon=$dir/icons/$status.png
    [[ -r $icon ]] || icon=$dir/icons/none.png
    app_icon=$dir/apps/$app/icon-24.png
    if ! [[ -r $app_icon ]]; then
        echo "ERROR: get_app_icon(): app \"$app\" doesn't have a icon-24!" >&2
        app_icon=
    fi
    cell=
    if [[ -r $dir/apps/$app/description ]]; then
        first_line "$dir/apps/$app/description"
        desc=$line
        status "$app" uninstalled
        cell="($status) $desc"
    else
        echo "ERROR: get_app_status_and_desc(): app \"$app\" doesn't have a description!" >&2
    fi
    printf '%s\n' "$icon" "$app_icon" "$app" "$app" "$cell"
done <<<"$APPS"
