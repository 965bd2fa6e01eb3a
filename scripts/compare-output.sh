#!/usr/bin/env bash
# Compares the pictures, messages and exit statuses of an older build of vimbracli with the
# current one, byte for byte, on random profiles, fonts, scripts and rows made from a fixed
# seed (the same cases on every run).
# Usage: scripts/compare-output.sh [CASES] [OLD_REVISION]
#   CASES         number of random cases (default 2000)
#   OLD_REVISION  git revision to build as the reference (default: the last commit before
#                 the bulk rendering, 9e487b2). OLD_TOOL=path skips the build and uses
#                 that binary instead; NEW_BUILD picks the current build folder (build).
set -euo pipefail
cd "$(dirname "$0")/.."
cases="${1:-2000}"
old_rev="${2:-9e487b2}"
new_build="${NEW_BUILD:-build}"

work=$(mktemp -d)
cleanup() {
    if [ -d "$work/old-src" ]; then
        git worktree remove --force "$work/old-src" >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

make build BUILD="$new_build" >/dev/null
new_tool="$PWD/$new_build/vimbracli"
if [ -n "${OLD_TOOL:-}" ]; then
    old_tool="$OLD_TOOL"
    old_rev="$OLD_TOOL"
    echo "Reference: $old_tool"
else
    echo "Building the reference from $old_rev (one job)..."
    git worktree add --detach "$work/old-src" "$old_rev" >/dev/null 2>&1
    cmake -S "$work/old-src" -B "$work/old-build" -DCMAKE_BUILD_TYPE=Release \
        -DVIMBRA_TESTS=OFF >/dev/null
    cmake --build "$work/old-build" -j 1 --target vimbracli >/dev/null
    old_tool="$work/old-build/vimbracli"
fi

RANDOM=20261207 # fixed seed: bash's generator gives the same cases on every run
rnd() { echo $(($1 + RANDOM % ($2 - $1 + 1))); } # an integer from $1 to $2

make_profile() {
    local p="$1"
    {
        echo "CHCNT_X $(rnd 1 24)"
        echo "CHCNT_Y $(rnd 1 5)"
        echo "CHOFS_X $(rnd 0 20)"
        echo "CHOFS_Y $(rnd 0 20)"
        echo "CHGAP_X $(rnd 0 6)"
        echo "CHGAP_Y $(rnd 0 6)"
        echo "PIXSIZ_X $(rnd 1 6)"
        echo "PIXSIZ_Y $(rnd 1 6)"
        echo "PIXGAP_X $(rnd 0 3)"
        echo "PIXGAP_Y $(rnd 0 3)"
        echo "FRAME_X $(rnd 0 8)"
        echo "FRAME_Y $(rnd 0 8)"
        for c in FRCOL FGCOL BGCOL; do
            for k in R G B; do echo "$c.$k $(rnd -20 300)"; done
        done
        echo "CONTRAST $(rnd -20 130)"
        if [ $((RANDOM % 8)) -eq 0 ]; then
            echo "SHADOW_DEPTH $(rnd 0 400)" # rings that cross the middle
        else
            echo "SHADOW_DEPTH $(rnd 0 12)"
        fi
        echo "SHADOW_CURVE $(rnd -10 40)"
        if [ $((RANDOM % 3)) -eq 0 ]; then
            echo "SCRIPT $work/script.bas"
        fi
    } >"$p"
}

# Graphics statements at random places, some outside the picture.
make_script() {
    local n=10 i
    echo "10 dim i" >"$1"
    for ((i = 0; i < $(rnd 1 12); i++)); do
        n=$((n + 10))
        case $((RANDOM % 6)) in
            0) echo "$n color $(rnd 0 255), $(rnd 0 255), $(rnd 0 255)" ;;
            1) echo "$n plot $(rnd -5 300), $(rnd -5 200)" ;;
            2) echo "$n line $(rnd -50 400), $(rnd -50 250), $(rnd -50 400), $(rnd -50 250)" ;;
            3) echo "$n box $(rnd -5 200), $(rnd -5 100), $(rnd 0 400), $(rnd 0 200)" ;;
            4) echo "$n fillbox $(rnd 0 200), $(rnd 0 100), $(rnd 0 300), $(rnd 0 150)" ;;
            5) echo "$n circle $(rnd -20 300), $(rnd -20 200), $(rnd -3 90)" ;;
        esac
    done >>"$1"
}

# A few glyph blocks of random dots for random codes.
make_font() {
    local b r c row
    : >"$1"
    for ((b = 0; b < $(rnd 0 6); b++)); do
        printf 'CODE 0x%02x\n' "$(rnd 0 255)" >>"$1"
        for ((r = 0; r < 8; r++)); do
            row=""
            for ((c = 0; c < 5; c++)); do
                if [ $((RANDOM % 2)) -eq 0 ]; then row+="."; else row+="o"; fi
            done
            echo "$row" >>"$1"
        done
    done
}

# Printable characters, \xHH and \\ escapes, and now and then a malformed escape.
make_row() {
    local row="" i
    local chars='ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .,:;!?-+*/<>=()[]{}'
    for ((i = 0; i < $(rnd 0 26); i++)); do
        case $((RANDOM % 5)) in
            0) row+=$(printf '\\x%02x' "$(rnd 0 255)") ;;
            1) row+='\\' ;;
            *) row+="${chars:$((RANDOM % ${#chars})):1}" ;;
        esac
    done
    if [ $((RANDOM % 50)) -eq 0 ]; then row+='\q'; fi
    printf '%s' "$row"
}

differ=0
for ((n = 1; n <= cases; n++)); do
    make_profile "$work/p.prof"
    make_script "$work/script.bas"
    make_font "$work/f.fnt"
    rows=()
    for ((r = 0; r < $(rnd 1 6); r++)); do rows+=("$(make_row)"); done
    old_status=0
    new_status=0
    (cd "$work" && "$old_tool" p.prof f.fnt old.bmp "${rows[@]}") >"$work/old.txt" 2>&1 </dev/null ||
        old_status=$?
    (cd "$work" && "$new_tool" p.prof f.fnt new.bmp "${rows[@]}") >"$work/new.txt" 2>&1 </dev/null ||
        new_status=$?
    same=1
    [ "$old_status" = "$new_status" ] || same=0
    cmp -s "$work/old.txt" "$work/new.txt" || same=0
    if [ -e "$work/old.bmp" ] || [ -e "$work/new.bmp" ]; then
        cmp -s "$work/old.bmp" "$work/new.bmp" || same=0 # one missing file differs too
    fi
    if [ "$same" -eq 0 ]; then
        differ=$((differ + 1))
        cp "$work/p.prof" "/tmp/compare-output-case-$n.prof"
        echo "case $n differs (profile kept in /tmp/compare-output-case-$n.prof)"
    fi
    rm -f "$work/old.bmp" "$work/new.bmp"
done
echo "compare-output: $cases cases, $differ differing (old: $old_rev, new: $new_build)"
[ "$differ" -eq 0 ]
