#!/usr/bin/env bash
# What a host author would write instead of applist: the same rows from the
# same DIRECTORY and APPS, in bash builtins only (no program is started).
# Presence is "readable" ([[ -r ]]), which agrees with applist on the
# benchmark data; it does not try to match applist on FIFOs or zero bytes.
LC_ALL=C
[[ -v APPS ]] || { echo 'ERROR: "APPS" environment variable isn'"'"'t set!' >&2; exit 1; }
[[ -v DIRECTORY ]] || { echo 'ERROR: "DIRECTORY" environment variable isn'"'"'t set!' >&2; exit 1; }
dir=${DIRECTORY%/}

# first_line PATH: the first line, up to a newline, carriage return or
# U+2029, in $line.
first_line() {
    line=
    IFS= read -r line <"$1"
    line=${line%%$'\r'*}
    line=${line%%$'\xe2\x80\xa9'*}
}

# status APP DEFAULT FUNCTION: the status text, in $status.
status() {
    local path="$dir/data/status/$1"
    status=$2
    if ((${#path} < 250)) && [[ -r $path ]]; then
        first_line "$path"
        if ((${#line} <= 29)); then
            status=$line
        else
            echo "ERROR: $3(): app \"$1\" has a status longer than 29 bytes!" >&2
        fi
    fi
}

while IFS= read -r app; do
    [[ -n $app ]] || continue
    status "$app" none get_app_status_with_none
    status_icon="$dir/icons/$status.png"
    ((${#status_icon} < 300)) && [[ -r $status_icon ]] || status_icon="$dir/icons/none.png"
    app_icon="$dir/apps/$app/icon-24.png"
    if ! [[ -r $app_icon ]]; then
        echo "ERROR: get_app_icon(): app \"$app\" doesn't have a icon-24!" >&2
        app_icon=
    fi
    description="$dir/apps/$app/description"
    cell=
    if [[ -r $description ]]; then
        first_line "$description"
        desc=$line
        status "$app" uninstalled get_app_status
        cell="($status) $desc"
        cell=${cell:0:4095}
    else
        echo "ERROR: get_app_status_and_desc(): app \"$app\" doesn't have a description!" >&2
    fi
    printf '%s\n' "$status_icon" "$app_icon" "$app" "$app" "$cell"
done <<<"$APPS"
