#!/usr/bin/env bash
# Runs every fuzz target for a while; fails on the first finding.
# Usage: fuzz/run.sh BUILD_DIR SECONDS_PER_TARGET [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
build="$1"; seconds="$2"; shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(util_format profile font progedit interpreter bmpread cmdlog png_roundtrip trace capture refpic stimulus)

# Extra seed folders per target, from what the project ships.
seeds_for() {
    case "$1" in
        profile) echo examples/profiles ;;
        font) echo examples/fonts ;;
        progedit|interpreter) echo examples/scripts ;;
        cmdlog) echo examples/logs ;;
        refpic) echo examples/firmware ;;
    esac
}

status=0
for t in "${targets[@]}"; do
    work="$build/corpus/$t"
    mkdir -p "$work" "fuzz/corpus/$t"
    log="$build/fuzz_$t.log"
    # shellcheck disable=SC2046
    if ! "$build/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$build/crash-$t-" \
            "$work" "fuzz/corpus/$t" $(seeds_for "$t") > "$log" 2>&1; then
        echo "fuzz_$t: FINDING (see $log)"
        tail -n 40 "$log"
        status=1
        continue
    fi
    runs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | awk '{ print $2 }')
    slowest=$(grep -o 'slowest_unit_time_sec: [0-9]*' "$log" | tail -n 1 | awk '{ print $2 }')
    echo "fuzz_$t: ${runs:-?} runs, ${cov:-?} edges covered, slowest unit ${slowest:-0} s, no finding"
done
exit $status
