#!/usr/bin/env bash
# The program's rows in the real yad list dialog, on a headless X server.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=tools/common.sh
source tools/common.sh
need cmake g++ yad xvfb x11-utils imagemagick locales

echo "== list dialog check (yad $(dpkg-query -W -f='${Version}' yad))"
need_build release
tests/dialog/check-dialog.sh build/release/applist build/dialog
