#!/usr/bin/env bash
# Benchmarks whole runs of vimbracli against references timed in the same run:
#   pictures:    the default 16x2 picture and a 40x4 one with 24-pixel dots, each
#                against `cp` of a file of the same size;
#   interpreter: three loop scripts, against yabasic and brandy running the same loops.
# Usage: bench/run.sh [pictures|interpreter|all]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:-all}"

bash scripts/install-deps.sh hyperfine time yabasic brandy >/dev/null
make build BUILD="${VIMBRA_BUILD:-build}" >/dev/null
tool="$PWD/${VIMBRA_BUILD:-build}/vimbracli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SDL_VIDEODRIVER=dummy

# Mean seconds of the command named $2 in hyperfine's CSV export $1.
mean_of() { awk -F, -v n="$2" '$1 == n { print $2 }' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

bench_pictures() {
    printf 'CHCNT_X 40\nCHCNT_Y 4\nPIXSIZ_X 24\nPIXSIZ_Y 24\n' > "$work/large.prof"
    local row40='0123456789ABCDEFGHIJ abcdefghij+-*/<>=?!'
    local default=(examples/profiles/default.prof examples/fonts/symbols.fnt "$work/default.bmp"
                   'Hello, world!' 'Vimbra 1.0.0')
    local large=("$work/large.prof" examples/fonts/symbols.fnt "$work/large.bmp"
                 "$row40" "$row40" "$row40" "$row40")
    "$tool" "${default[@]}" >/dev/null
    "$tool" "${large[@]}" >/dev/null
    head -c "$(stat -c %s "$work/default.bmp")" /dev/urandom > "$work/default.ref"
    head -c "$(stat -c %s "$work/large.bmp")" /dev/urandom > "$work/large.ref"

    hyperfine -N --warmup 10 --runs 200 --export-csv "$work/pictures.csv" \
        -n cp-default "cp $work/default.ref $work/copy-default" \
        -n vimbracli-default "$tool ${default[*]@Q}" \
        -n cp-large "cp $work/large.ref $work/copy-large" \
        -n vimbracli-large "$tool ${large[*]@Q}" >/dev/null

    local c
    c="$work/pictures.csv"
    echo "Pictures (mean of 200 runs each; ratio = vimbracli / cp of a same-sized file):"
    printf '  default 446x112 (%s bytes): %.2f ms vs cp %.2f ms: ratio %s, peak %s KiB\n' \
        "$(stat -c %s "$work/default.bmp")" \
        "$(awk -v s="$(mean_of "$c" vimbracli-default)" 'BEGIN{print s*1000}')" \
        "$(awk -v s="$(mean_of "$c" cp-default)" 'BEGIN{print s*1000}')" \
        "$(ratio "$(mean_of "$c" vimbracli-default)" "$(mean_of "$c" cp-default)")" \
        "$(peak_kib "$tool" "${default[@]}")"
    printf '  large 5070x834 (%s bytes): %.2f ms vs cp %.2f ms: ratio %s, peak %s KiB\n' \
        "$(stat -c %s "$work/large.bmp")" \
        "$(awk -v s="$(mean_of "$c" vimbracli-large)" 'BEGIN{print s*1000}')" \
        "$(awk -v s="$(mean_of "$c" cp-large)" 'BEGIN{print s*1000}')" \
        "$(ratio "$(mean_of "$c" vimbracli-large)" "$(mean_of "$c" cp-large)")" \
        "$(peak_kib "$tool" "${large[@]}")"
}

bench_interpreter() {
    local d="$work/interp"
    mkdir -p "$d"
    # The same three loops in each language.
    printf '10 dim i, a\n20 for i = 1 to 1000000\n30 a = a + 1\n40 next\n' > "$d/for.bas"
    printf '10 dim i, a\n20 for i = 1 to 200000\n30 gosub 100\n40 next\n50 end\n100 a = a + 1\n110 return\n' > "$d/gosub.bas"
    printf '10 dim i, j, a\n20 for i = 1 to 1000\n30 for j = 1 to 1000\n40 if j = 500 then a = a + 1\n50 next\n60 next\n' > "$d/nested.bas"
    printf 'a = 0\nfor i = 1 to 1000000\n  a = a + 1\nnext i\n' > "$d/for.yab"
    printf 'a = 0\nfor i = 1 to 200000\n  gosub inc\nnext i\nend\nlabel inc\na = a + 1\nreturn\n' > "$d/gosub.yab"
    printf 'a = 0\nfor i = 1 to 1000\n  for j = 1 to 1000\n    if j = 500 a = a + 1\n  next j\nnext i\n' > "$d/nested.yab"
    printf 'a%% = 0\nFOR i%% = 1 TO 1000000\na%% = a%% + 1\nNEXT\n' > "$d/for.bbc"
    printf 'a%% = 0\nFOR i%% = 1 TO 200000\nGOSUB 100\nNEXT\nGOTO 200\n100 a%% = a%% + 1\nRETURN\n200 REM\n' > "$d/gosub.bbc"
    printf 'a%% = 0\nFOR i%% = 1 TO 1000\nFOR j%% = 1 TO 1000\nIF j%% = 500 THEN a%% = a%% + 1\nNEXT\nNEXT\n' > "$d/nested.bbc"
    for s in for gosub nested; do
        printf 'CHCNT_X 1\nCHCNT_Y 1\nSCRIPT %s\n' "$d/$s.bas" > "$d/$s.prof"
    done

    echo "Interpreter (whole process, mean of 10 runs; the picture is a 1x1-cell LCD):"
    for s in for gosub nested; do
        hyperfine -N --warmup 2 --runs 10 --export-csv "$d/$s.csv" \
            -n vimbracli "$tool $d/$s.prof examples/fonts/symbols.fnt $d/$s.bmp x" \
            -n yabasic "yabasic $d/$s.yab" \
            -n brandy "brandy -quit $d/$s.bbc" >/dev/null 2>&1
        local v y b
        v=$(mean_of "$d/$s.csv" vimbracli); y=$(mean_of "$d/$s.csv" yabasic); b=$(mean_of "$d/$s.csv" brandy)
        printf '  %-7s vimbracli %7.1f ms   yabasic %7.1f ms (ratio %s)   brandy %7.1f ms (ratio %s)\n' \
            "$s" "$(awk -v s="$v" 'BEGIN{print s*1000}')" \
            "$(awk -v s="$y" 'BEGIN{print s*1000}')" "$(ratio "$v" "$y")" \
            "$(awk -v s="$b" 'BEGIN{print s*1000}')" "$(ratio "$v" "$b")"
    done
}

case "$what" in
    pictures) bench_pictures ;;
    interpreter) bench_interpreter ;;
    all) bench_pictures; bench_interpreter ;;
    *) echo "usage: bench/run.sh [pictures|interpreter|all]" >&2; exit 2 ;;
esac
