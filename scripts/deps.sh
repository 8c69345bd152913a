#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when run as root
# and something is missing. Sourced by play.sh and test.sh.
cantilena_install_deps() {
    local wanted=(cmake g++ pkg-config googletest libgtest-dev libbenchmark-dev
        portaudio19-dev libsndfile1-dev libcli11-dev libyaml-cpp-dev liblzma-dev xz-utils "$@")
    local missing=()
    local p
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing Debian packages: ${missing[*]} (run as root to install them)" >&2
        return 1
    fi
    echo "installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
