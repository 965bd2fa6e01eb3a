#!/usr/bin/env bash
# Draws a chart of each built-in character set with vimbracli itself: all 256 codes on a
# 16 x 16 module laid out like the datasheet, the column the high hexadecimal digit of the
# code and the row the low one. Writes docs/charset-a00.png and docs/charset-a02.png.
# Usage: scripts/charts.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
tool="$build/vimbracli"
[ -x "$tool" ] || { echo "no $tool: run make build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Row r holds codes 0xr, 0x1r, ... 0xFr.
rows=()
for low in 0 1 2 3 4 5 6 7 8 9 A B C D E F; do
    row=""
    for high in 0 1 2 3 4 5 6 7 8 9 A B C D E F; do
        row+="\\x$high$low"
    done
    rows+=("$row")
done

for set in a00 a02; do
    printf 'LCD_MODEL chart-%s\nCHARSET %s\nCHCNT_X 16\nCHCNT_Y 16\nCHGAP_X 8\nCHGAP_Y 6\n' \
        "$set" "$set" > "$work/$set.prof"
    target="docs/charset-$set.png"
    "$tool" "$work/$set.prof" "" "$target" "${rows[@]}" | grep -v '^\[Warning\]: LCD font' || true
    [ -s "$target" ] || { echo "charts: $target was not written" >&2; exit 1; }
    echo "Wrote $target"
done
