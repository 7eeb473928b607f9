#!/bin/sh
# Prints the rows for every app of a data directory. This is the one place
# that lists the apps: every name in the apps folder, in the C locale's byte
# order whatever the caller's locale, so show-apps and the checks that use
# this script see the same list in the same order.
# Usage: demo.sh APPLIST [DATA_DIRECTORY]
set -eu
applist=$1
data=${2:-$(dirname "$0")/data}
APPS=$(LC_ALL=C ls "$data/apps") DIRECTORY=$data exec "$applist"
