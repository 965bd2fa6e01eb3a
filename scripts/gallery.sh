#!/usr/bin/env bash
# Renders the README's pictures with the tool itself: one PNG of every shipped profile into
# docs/gallery/ (default.png is also the README's first picture), docs/bargraph.png, and a
# GIF of every example log into docs/animations/ (each on the profile its "# Try:" line
# names).
# Usage: scripts/gallery.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
tool="${1:-build}/vimbracli"
font=examples/fonts/symbols.fnt
out=docs/gallery

# Rows that fit each profile's display and show its glyphs.
rows_for() {
    case "$1" in
        black-on-white-8x2) rows=('Vimbra' '8x2 \x00\x02\x06') ;;
        blue-16x2) rows=('Hello, world!' 'Temp 21.5\x01C \x05') ;;
        default) rows=('Vimbra LCD \x00\x02' 'Temp 21.5\x01C \x05\x06') ;;
        framed-deep-shadow) rows=('Framed bezel' 'Deep shadow \x00') ;;
        green-20x4) rows=('Vimbra 20x4 module' 'Battery \x03 \x04 \x05' 'Alarm \x02  Up \x06 Dn \x07'
                          'Temp 21.5\x01C \x00') ;;
        oled-16x2) rows=('OLED 16x2 \x00' 'Yellow on black') ;;
        wide-40x2) rows=('Vimbra 40x2: one wide row of 40 codes' 'Temp 21.5\x01C  Battery \x05  Alarm \x02 \x00') ;;
        *) rows=("$1" 'Hello, world! \x00') ;;
    esac
}

mkdir -p "$out"
rm -f "$out"/*.png
for profile in examples/profiles/*.prof; do
    name=$(basename "$profile" .prof)
    rows_for "$name"
    "$tool" "$profile" "$font" "$out/$name.png" "${rows[@]}" >/dev/null
    echo "Wrote $out/$name.png"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'SCRIPT examples/scripts/bargraph.bas\n' > "$work/bargraph.prof"
"$tool" "$work/bargraph.prof" "$font" docs/bargraph.png 'Weekly output' '' >/dev/null
echo "Wrote docs/bargraph.png"

mkdir -p docs/animations
rm -f docs/animations/*.gif
for log in examples/logs/*.log; do
    name=$(basename "$log" .log)
    profile=$(sed -n 's/^# Try: vimbracli -p \([^ ]*\) .*/\1/p' "$log")
    "$tool" -p "${profile:-examples/profiles/default.prof}" --replay "$log" "docs/animations/$name.gif"
    echo "Wrote docs/animations/$name.gif"
done
