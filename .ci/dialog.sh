#!/usr/bin/env bash
# The program's rows in the real yad list dialog, on a headless X server.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v yad >/dev/null || need+=(yad)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xwininfo >/dev/null || need+=(x11-utils)
command -v import >/dev/null || need+=(imagemagick)
if ((${#need[@]})); then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=300 "${need[@]}" >/dev/null
fi

echo "== list dialog check (yad $(dpkg-query -W -f='${Version}' yad))"
cmake --preset release >/dev/null
cmake --build --preset release
tests/dialog/check-dialog.sh build/release/applist build/dialog
