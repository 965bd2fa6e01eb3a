#!/usr/bin/env bash
# Compares the pictures, messages and exit statuses of an older build of vimbracli with the
# current one, byte for byte, on random profiles, fonts, scripts and rows made from a fixed
# seed (the same cases on every run); then on replays: random command logs (named forms, raw
# bytes, i2c nibbles, reads, marks, backlight, two controllers, malformed lines) and traces
# (the shipped example, the fuzz corpus's, bench/trace_gen's whole, cut and hurried, i2c),
# with and without --timing chip, --check-timing, --at, --text, --emit-log, stills and
# animations.
# Usage: scripts/compare-output.sh [CASES] [OLD_REVISION]
#   CASES         number of random positional cases (default 2000); REPLAY_CASES (default:
#                 as many) replay cases follow them
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
echo "compare-output: $cases positional cases, $differ differing"
positional_differ=$differ

# ---------------------------------------------------------------- replays

replay_cases="${REPLAY_CASES:-$cases}"
profiles=("$PWD"/examples/profiles/*.prof)
modules=(8x1 16x1 16x2 20x2 20x4 40x2 40x4 24x4 1x1 80x1 80x2)
words=(Hello "world!" 0123 "Temp: 21.5" ">" " " "\\x01\\x02" "A\\xff" "Menu" "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOP")

# One random line of a command log.
log_line() {
    local i
    case $((RANDOM % 30)) in
        0 | 1) echo "print \"${words[$((RANDOM % ${#words[@]}))]}\"" ;;
        2 | 3) echo "goto $(rnd 0 15) $(rnd 0 1)" ;;
        4 | 5) printf 'wait %sus\n' "$(rnd 0 2500)" ;;
        6) printf 'wait %sms\n' "$(rnd 0 900)" ;;
        7) echo "init" ;;
        8) echo "clear" ;;
        9) echo "home" ;;
        10) printf 'cmd'; for ((i = 0; i < $(rnd 1 4); i++)); do printf ' 0x%02X' "$(rnd 0 255)"; done; echo ;;
        11) printf 'data'; for ((i = 0; i < $(rnd 1 6); i++)); do printf ' 0x%02X' "$(rnd 0 255)"; done; echo ;;
        12) echo "read $([ $((RANDOM % 2)) -eq 0 ] && echo busy || echo data)" ;;
        13) echo "cursor $([ $((RANDOM % 2)) -eq 0 ] && echo on || echo off)" ;;
        14) echo "blink $([ $((RANDOM % 2)) -eq 0 ] && echo on || echo off)" ;;
        15) echo "display $([ $((RANDOM % 4)) -ne 0 ] && echo on || echo off)" ;;
        16) echo "shift $([ $((RANDOM % 2)) -eq 0 ] && echo left || echo right)" ;;
        17) echo "mark m$(rnd 0 5)" ;;
        18) echo "backlight $([ $((RANDOM % 2)) -eq 0 ] && echo on || echo off)" ;;
        19) if [ "$two" -eq 1 ] || [ $((RANDOM % 8)) -eq 0 ]; then echo "controller $(rnd 1 2)"; fi ;;
        20) printf 'define 0x%02X\n' "$(rnd 0 15)"
            for ((i = 0; i < 8; i++)); do echo "o.o.o"; done ;;
        21 | 22 | 23) # a byte as two nibbles through the backpack: E high, then low
            local rs=$((RANDOM % 2)) rw=$((RANDOM % 8 == 0 ? 1 : 0)) byte=$(rnd 0 255) bl=8 n
            printf 'i2c 0x27'
            for n in $((byte >> 4)) $((byte & 15)); do
                printf ' 0x%02X 0x%02X' $(((n << 4) | bl | 4 | (rw << 1) | rs)) $(((n << 4) | bl | (rw << 1) | rs))
            done
            echo ;;
        24) printf 'i2c 0x27 0x34 0x30\ni2c 0x27 0x34 0x30\ni2c 0x27 0x34 0x30\ni2c 0x27 0x24 0x20\n' ;;
        25) echo "cmd 0x28" ;; # 4 bits, two lines
        26) echo "cmd 0x$(printf '%02X' $((0x30 | (RANDOM % 16 & 0x0B))))" ;;
        27) # something malformed, now and then
            case $((RANDOM % 6)) in
                0) echo "frobnicate 3" ;;
                1) echo "cmd 0x100" ;;
                2) echo "goto 99 99" ;;
                3) echo "wait 1.5" ;;
                4) echo "print \"unclosed" ;;
                *) echo "# a comment" ;;
            esac ;;
        28) echo "wiring 0 1 2 3 4 5 6 7" ;;
        *) echo "" ;;
    esac
}

make_log() {
    local i module="${modules[$((RANDOM % ${#modules[@]}))]}"
    two=0
    case "$module" in 40x4 | 80x2 | 24x4) two=1 ;; esac
    if [ $((RANDOM % 3)) -ne 0 ]; then echo "module $module"; else two=0; fi
    if [ $((RANDOM % 2)) -eq 0 ]; then echo "init"; fi
    for ((i = 0; i < $(rnd 1 40); i++)); do log_line; done
}

# Traces: the example, the fuzz corpus's, a generated one whole, cut and hurried.
g++ -O2 -std=c++20 bench/trace_gen.cpp -o "$work/trace_gen"
"$work/trace_gen" 1 >"$work/gen.vcd"
traces=("$PWD"/examples/traces/no-clear-wait.vcd "$PWD"/fuzz/corpus/trace/*.vcd "$work/gen.vcd")
for cut in 5000 40000 300000; do
    head -c "$cut" "$work/gen.vcd" >"$work/gen-cut$cut.vcd"
    traces+=("$work/gen-cut$cut.vcd")
done
for k in 3 20; do # every time stamp divided: waits too short for the chip
    awk -v k="$k" '/^#[0-9]+$/ { t = int(substr($0, 2) / k); if (t <= last && NR > 1) t = last + 1; last = t; print "#" t; next } { print }' \
        "$work/gen.vcd" >"$work/gen-fast$k.vcd"
    traces+=("$work/gen-fast$k.vcd")
done

# Random options of a replay: timing, checks, a moment, and what is written.
replay_options() {
    local out="$1"
    opts=()
    case $((RANDOM % 3)) in 0) opts+=(--timing chip) ;; 1) opts+=(--timing ideal) ;; esac
    if [ $((RANDOM % 3)) -eq 0 ]; then opts+=(--check-timing); fi
    if [ $((RANDOM % 5)) -eq 0 ]; then opts+=(--fosc "$(rnd 150 400)"); fi
    if [ $((RANDOM % 6)) -eq 0 ]; then opts+=(--vcc 3.3); fi
    if [ $((RANDOM % 6)) -eq 0 ]; then opts+=(--power-on); fi
    if [ $((RANDOM % 6)) -eq 0 ]; then opts+=(--emit-log "$out.log"); fi
    case $((RANDOM % 4)) in
        0) opts+=(--at "$(rnd 0 3000)ms") ;;
        1) opts+=(--at "m$(rnd 0 5)") ;;
    esac
    if [ $((RANDOM % 2)) -eq 0 ]; then opts+=(-p "${profiles[$((RANDOM % ${#profiles[@]}))]}"); fi
    case $((RANDOM % 8)) in
        0 | 1) opts+=(--text) ;;
        2) opts+=(-o "$out.gif" --hold "$(rnd 0 1500)ms") ;;
        3) opts+=(-o "$out.apng" --loop "$(rnd 0 3)") ;;
        4) opts+=(-o "$out.png") ;;
        *) opts+=(-o "$out.bmp") ;;
    esac
}

differ=0
declare -A statuses=()
for ((n = 1; n <= replay_cases; n++)); do
    if [ $((RANDOM % 4)) -eq 0 ]; then
        input="${traces[$((RANDOM % ${#traces[@]}))]}"
    else
        make_log >"$work/case.log"
        input="$work/case.log"
    fi
    rm -f "$work"/old.* "$work"/new.*
    replay_options old
    old_opts=("${opts[@]}")
    new_opts=()
    for o in "${opts[@]}"; do new_opts+=("${o/#old/new}"); done
    old_status=0
    new_status=0
    (cd "$work" && timeout 60 "$old_tool" --replay "$input" "${old_opts[@]}") >"$work/old.txt" 2>&1 </dev/null ||
        old_status=$?
    (cd "$work" && timeout 60 "$new_tool" --replay "$input" "${new_opts[@]}") >"$work/new.txt" 2>&1 </dev/null ||
        new_status=$?
    statuses[$old_status]=$((${statuses[$old_status]:-0} + 1))
    same=1
    [ "$old_status" = "$new_status" ] || same=0
    sed -i 's/\bold\././g' "$work/old.txt"
    sed -i 's/\bnew\././g' "$work/new.txt"
    cmp -s "$work/old.txt" "$work/new.txt" || same=0
    for f in "$work"/old.*; do
        [ -e "$f" ] || continue
        case "$f" in *.txt) continue ;; esac
        cmp -s "$f" "${f/\/old./\/new.}" || same=0
    done
    for f in "$work"/new.*; do
        [ -e "$f" ] && [ ! -e "${f/\/new./\/old.}" ] && same=0
    done
    if [ "$same" -eq 0 ]; then
        differ=$((differ + 1))
        keep="/tmp/compare-output-replay-$n"
        cp "$input" "$keep.input"
        printf '%s\n' "${old_opts[@]}" >"$keep.options"
        echo "replay case $n differs (input $keep.input, options $keep.options)"
    fi
done
echo "compare-output: $replay_cases replay cases, $differ differing (exit statuses:$(for k in "${!statuses[@]}"; do printf ' %s: %s' "$k" "${statuses[$k]}"; done))"
echo "compare-output: $((cases + replay_cases)) cases, $((positional_differ + differ)) differing (old: $old_rev, new: $new_build)"
[ "$((positional_differ + differ))" -eq 0 ]
