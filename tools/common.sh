# shellcheck shell=bash
# Shell helpers of the CI, bench and dialog-check scripts, which source this.

# `fail MESSAGE...`: says that the script failed, and why, and ends it.
fail() {
    echo "${0##*/}: FAIL: $*" >&2
    exit 1
}

# `need PACKAGE...` installs the Debian packages among its arguments that are
# not installed yet. Installing needs root; anyone else gets the list to
# install and a failure.
need() {
    local missing=() pkg
    for pkg; do
        dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q ' installed$' ||
            missing+=("$pkg")
    done
    ((${#missing[@]})) || return 0
    if ((EUID != 0)); then
        echo "$0: missing Debian packages: ${missing[*]}; run it as root, which" \
            "installs them, or install them first (apt-get install ${missing[*]})" >&2
        return 1
    fi
    echo "installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=300 "${missing[@]}" >/dev/null
}

# `need_build PRESET` (from the top of the tree): that preset's build,
# configured only when it does not exist yet, then brought up to date. A
# preset named in APPLIST_BUILT (space-separated), which .ci/run sets for the
# builds it has made, is used as it is: one CI run builds each preset once.
need_build() {
    if [[ " ${APPLIST_BUILT:-} " == *" $1 "* && -f build/$1/CMakeCache.txt ]]; then
        return 0
    fi
    [[ -f build/$1/CMakeCache.txt ]] || cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
}
