#!/usr/bin/env bash
# Makes a data directory of N apps and the matching app list, the same bytes
# on every run (a fixed-order pseudo-random sequence picks each app's shape).
# Usage: gen-data.sh N OUT  ->  OUT/data (the DIRECTORY) and OUT/apps (APPS)
#
# The mix: most apps complete; about 3 % each without an icon, without a
# description, without a status file; about 4 % with a status that has no
# icon; 1 % with carriage-return line ends; one name in eight has a space.
# Names stay short so that 10,000 of them fit one environment string.
set -euo pipefail
n=${1:?N}
out=${2:?output directory}
rm -rf "$out"
mkdir -p "$out/data/icons" "$out/data/data/status"
for icon in installed none update; do
    printf 'PNG %s\n' "$icon" >"$out/data/icons/$icon.png"
done

words=(Edit View Play Draw Chat Mail Scan Sync Note Plan Read Watch)
descriptions=("Edits text" "Shows the weather for the week ahead"
    "Plays music from the library, with playlists and radio"
    "Draws diagrams" "Talks to friends and groups, with voice and video calls"
    "Reads and writes mail" "Scans documents" "Keeps folders in step across machines"
    "Jots down quick notes and lists" "Plans the day" "Reads books and comics"
    "Watches videos")
x=20240611
next() { x=$(((x * 1103515245 + 12345) % 2147483648)); r=$((x / 65536 % 100)); }

list=()
dirs=()
for ((i = 0; i < n; i++)); do
    next
    if ((r < 12)); then
        name="${words[i % 12]} $i"
    else
        name="app$i"
    fi
    list+=("$name")
    dirs+=("$out/data/apps/$name")
done
mkdir -p "$out/data/apps" "${dirs[@]}"

for ((i = 0; i < n; i++)); do
    name=${list[i]}
    app="$out/data/apps/$name"
    next
    eol=$'\n'
    ((r != 7)) || eol=$'\r\n'
    next
    if ((r >= 3)); then
        next
        if ((r < 4)); then
            status=pending # no icon for it
        elif ((r < 12)); then
            status=update
        else
            status=installed
        fi
        printf '%s%s' "$status" "$eol" >"$out/data/data/status/$name"
    fi
    next
    ((r < 3)) || printf 'PNG\n' >"$app/icon-24.png"
    next
    if ((r >= 3)); then
        next
        printf '%s%s' "${descriptions[r % 12]}" "$eol" >"$app/description"
    fi
done
printf '%s\n' "${list[@]}" >"$out/apps"
