#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the fuzzers need, if missing.
# Usage: scripts/install-deps.sh [--web] [extra packages...]
#   --web  also what the designer page and its browser tests need: Emscripten (with the
#          node-acorn its optimiser uses), zlib's sources (shipped in binutils-source),
#          Chromium, and Node.js with npm when the machine has none.
set -euo pipefail
packages=(cmake ninja-build make g++ clang libgtest-dev libclang-rt-14-dev zlib1g-dev libpng-dev
    libcli11-dev libgif-dev libminizip-dev)
# The man page lint and the Debian package (dpkg-shlibdeps works out its Depends, lintian
# checks it).
packages+=(groff-base mandoc dpkg-dev file lintian)
# The trace tests: firmware built for an ATmega328P and traced in simulation; sigrok sessions
# made by sigrok-cli.
packages+=(gcc-avr avr-libc simavr libsimavr-dev sigrok-cli)
if [ "${1:-}" = "--web" ]; then
    shift
    packages+=(emscripten node-acorn binutils-source chromium)
    command -v node >/dev/null || packages+=(nodejs)
    command -v npm >/dev/null || packages+=(npm)
fi
packages+=("$@")
missing=()
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
