#!/usr/bin/env bash
# Lint: shellcheck on every shell script and clang-format on every C and C++
# source that git tracks or would track, found by name or first line, so a
# new file is checked too.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in git shellcheck clang-format; do # each from the Debian package of its name
    command -v "$tool" >/dev/null || { echo "$0: needs $tool: apt-get install $tool" >&2 && exit 1; }
done
git rev-parse --is-inside-work-tree >/dev/null # a failed git ls-files below would go unseen

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

echo "shellcheck -x ${scripts[*]}"
shellcheck -x "${scripts[@]}"
echo "clang-format --dry-run --Werror ${sources[*]}"
clang-format --dry-run --Werror "${sources[@]}"
