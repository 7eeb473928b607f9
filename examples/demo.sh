#!/bin/sh
# Prints the rows for every app folder of a data directory.
# Usage: demo.sh APPLIST [DATA_DIRECTORY]
set -eu
applist=$1
data=${2:-$(dirname "$0")/data}
APPS=$(LC_ALL=C ls -1 "$data/apps") DIRECTORY=$data exec "$applist"
