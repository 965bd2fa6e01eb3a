#!/usr/bin/env bash
# Builds and tests a clone of this repository's committed state inside a folder that only its
# owner may enter, as a new home folder (and root's) is: tests that start the tool as another
# user must still find it. The clone and its build are removed afterwards.
# Usage: scripts/test-private-clone.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

home="$(mktemp -d "${TMPDIR:-/tmp}/vimbra-home.XXXXXX")"
trap 'rm -rf "$home"' EXIT
chmod 0700 "$home"
git clone -q --no-hardlinks . "$home/vimbracli"
cd "$home/vimbracli"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DVIMBRA_WERROR=ON >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"
cd build
ctest --output-on-failure -j "$(nproc 2>/dev/null || echo 2)" "$@"
# Run as root, the test that starts the tool as another user must have run, not skipped.
if [ "$(id -u)" -eq 0 ]; then
    run="$(./vimbra_tests --gtest_filter='OutfileCliTest.FolderWithoutRoomForATemporaryFile')"
    if grep -q 'SKIPPED' <<<"$run"; then
        echo "$run" >&2
        echo "test-private-clone: the test as another user was skipped" >&2
        exit 1
    fi
fi
echo "Tests passed in a clone under the 0700 folder $home."
