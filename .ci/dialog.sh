#!/usr/bin/env bash
# The program's rows in the real yad list dialog, on a headless X server.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=.ci/need.sh
source .ci/need.sh
need yad xvfb x11-utils imagemagick

echo "== list dialog check (yad $(dpkg-query -W -f='${Version}' yad))"
cmake --preset release >/dev/null
cmake --build --preset release
tests/dialog/check-dialog.sh build/release/applist build/dialog
