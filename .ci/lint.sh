#!/usr/bin/env bash
# Lint: shellcheck on every shell script and clang-format on every C and C++
# source of the tree, found by name and first line, so a new file is checked too.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=tools/common.sh
source tools/common.sh
need git shellcheck clang-format

git rev-parse --is-inside-work-tree >/dev/null # the files are git's list
scripts=() sources=()
while IFS= read -r -d '' file; do
    case $file in
    *.c | *.cc | *.cpp | *.h | *.hpp) sources+=("$file") ;;
    *.sh | *.bash) scripts+=("$file") ;;
    *)
        if [[ -f $file ]] && head -n 1 "$file" | grep -qE '^#!.*[/ ](ba|da|k)?sh( |$)'; then
            scripts+=("$file")
        fi
        ;;
    esac
done < <(git ls-files -z --cached --others --exclude-standard)

echo "== shellcheck -x: ${scripts[*]}"
shellcheck -x "${scripts[@]}"
echo "== clang-format --dry-run --Werror: ${sources[*]}"
clang-format --dry-run --Werror "${sources[@]}"
