#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the fuzzers need, if missing.
# Usage: scripts/install-deps.sh [extra packages...]
set -euo pipefail
packages=(cmake ninja-build make g++ clang libgtest-dev libclang-rt-14-dev zlib1g-dev libpng-dev "$@")
missing=()
# The man page lint and the Debian package (dpkg-shlibdeps works out its Depends).
packages+=(groff-base mandoc dpkg-dev file)
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
