#!/usr/bin/env bash
# Draws a chart of each built-in character set with vimbracli itself: all 256 codes on a
# 16 x 16 module laid out like the datasheet, the column the high hexadecimal digit of the
# code and the row the low one. Writes docs/charset-a00.png and docs/charset-a02.png.
# Usage: scripts/charts.sh [--format png|bmp] [BUILD_DIR]
#   png (default): vimbracli writes the PNG files itself;
#   bmp: vimbracli writes BMP files, which scripts/bmp2png.py turns into the PNG files.
set -euo pipefail
cd "$(dirname "$0")/.."
format=png
if [ "${1:-}" = "--format" ]; then
    format="$2"
    shift 2
fi
build="${1:-build}"
case "$format" in
    png|bmp) ;;
    *) echo "usage: scripts/charts.sh [--format png|bmp] [BUILD_DIR]" >&2; exit 2 ;;
esac
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
    if [ "$format" = png ]; then
        "$tool" "$work/$set.prof" "" "$target" "${rows[@]}" | grep -v '^\[Warning\]: LCD font' || true
    else
        "$tool" "$work/$set.prof" "" "$work/$set.bmp" "${rows[@]}" | grep -v '^\[Warning\]: LCD font' || true
        python3 scripts/bmp2png.py "$work/$set.bmp" "$target"
    fi
    [ -s "$target" ] || { echo "charts: $target was not written" >&2; exit 1; }
    echo "Wrote $target"
done
