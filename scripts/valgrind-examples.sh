#!/usr/bin/env bash
# Runs the tool under valgrind's memcheck over every shipped profile, font, script and trace;
# fails on the first error or leak.
# Usage: scripts/valgrind-examples.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
bash scripts/install-deps.sh valgrind >/dev/null
tool="$build/vimbracli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Exit status 99 is valgrind's own; the tool's statuses (e.g. 2 for a bad escape) pass.
check() {
    local status=0
    valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
        "$tool" "$@" > "$work/out.txt" 2>&1 < "$work/stdin.txt" || status=$?
    if [ "$status" -eq 99 ]; then
        echo "valgrind found a problem: $tool $*"
        cat "$work/out.txt"
        exit 1
    fi
}

echo 42 > "$work/stdin.txt"
runs=0
for profile in examples/profiles/*.prof; do
    for out in out.bmp out.png; do
        check "$profile" examples/fonts/symbols.fnt "$work/$out" 'Hello, world! \x00\x01' 'Row 2 \x7e\x7f\xff'
        runs=$((runs + 1))
    done
done
for script in examples/scripts/*.bas; do
    printf 'SCRIPT %s\n' "$script" > "$work/script.prof"
    check "$work/script.prof" examples/fonts/symbols.fnt "$work/out.bmp" 'Script' "$(basename "$script")"
    runs=$((runs + 1))
done
check "$work/missing.prof" "$work/missing.fnt" "$work/out.bmp" 'defaults'
check examples/profiles/default.prof examples/fonts/symbols.fnt "$work/out.bmp" 'bad \q escape'
runs=$((runs + 2))
# The shipped trace, decoded and checked (status 5: it has timing faults).
check --replay examples/traces/no-clear-wait.vcd --pins rs=PB0,e=PB1,rw=PB2,d4=PD4,d5=PD5,d6=PD6,d7=PD7 \
    --check-timing -o "$work/trace.png"
runs=$((runs + 1))
echo "valgrind: $runs runs over the shipped examples, no error, no leak"
