#!/usr/bin/env bash
# Benchmarks whole runs of vimbracli against references timed in the same run:
#   pictures:    the default 16x2 picture and a 40x4 one with 24-pixel dots, each
#                against `cp` of a file of the same size;
#   interpreter: three loop scripts, against yabasic and brandy running the same loops;
#   charset:     a 40x4 picture in character set A00 whose rows are UTF-8 text, against the
#                same picture with every code written as a \xHH escape.
# Usage: bench/run.sh [pictures|interpreter|charset|all]   (default: all)
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

bench_charset() {
    printf 'CHCNT_X 40\nCHCNT_Y 4\nCHARSET A00\n' > "$work/a00.prof"
    # Katakana (half- and full-width, voiced as two codes), hiragana, Greek, symbols, ASCII.
    local text=('Temp 21.5°C  Fan 1200rpm  ¥980  →OK ←NG!'
                'ｶﾞｿﾘﾝ ガソリン ﾀﾝｸ ﾃﾞｽ パン ﾋﾟｱﾉ ﾊﾞｽ ｱｲｳｴｵｶｷ'
                'αβεμσρ √x ∞ Σπ÷ θΩ ü ö ä ñ ¢£ 12°C ██ x̄⁻¹'
                'ひらがな でんき ガス みず ぱぴ ¥500 ｷﾛ 千円 アイウエオ')
    local escaped=('\x54\x65\x6D\x70\x20\x32\x31\x2E\x35\xDF\x43\x20\x20\x46\x61\x6E\x20\x31\x32\x30\x30\x72\x70\x6D\x20\x20\x5C\x39\x38\x30\x20\x20\x7E\x4F\x4B\x20\x7F\x4E\x47\x21'
                   '\xB6\xDE\xBF\xD8\xDD\x20\xB6\xDE\xBF\xD8\xDD\x20\xC0\xDD\xB8\x20\xC3\xDE\xBD\x20\xCA\xDF\xDD\x20\xCB\xDF\xB1\xC9\x20\xCA\xDE\xBD\x20\xB1\xB2\xB3\xB4\xB5\xB6\xB7'
                   '\xE0\xE2\xE3\xE4\xE5\xE6\x20\xE8\x78\x20\xF3\x20\xF6\xF7\xFD\x20\xF2\xF4\x20\xF5\x20\xEF\x20\xE1\x20\xEE\x20\xEC\xED\x20\x31\x32\xDF\x43\x20\xFF\xFF\x20\xF8\xE9'
                   '\xCB\xD7\xB6\xDE\xC5\x20\xC3\xDE\xDD\xB7\x20\xB6\xDE\xBD\x20\xD0\xBD\xDE\x20\xCA\xDF\xCB\xDF\x20\x5C\x35\x30\x30\x20\xB7\xDB\x20\xFA\xFC\x20\xB1\xB2\xB3\xB4\xB5')
    local utf8=("$work/a00.prof" "" "$work/utf8.bmp" "${text[@]}")
    local codes=("$work/a00.prof" "" "$work/codes.bmp" "${escaped[@]}")
    "$tool" "${utf8[@]}" >/dev/null
    "$tool" "${codes[@]}" >/dev/null
    cmp -s "$work/utf8.bmp" "$work/codes.bmp" || { echo "charset: the two pictures differ" >&2; exit 1; }

    hyperfine -N --warmup 20 --runs 500 --export-csv "$work/charset.csv" \
        -n escapes "$tool ${codes[*]@Q}" \
        -n utf8 "$tool ${utf8[*]@Q}" >/dev/null
    # The median and the CPU time (user + system) stand a busy machine better than the mean.
    local c="$work/charset.csv"
    median_of() { awk -F, -v n="$2" '$1 == n { print $4 }' "$1"; }
    cpu_of() { awk -F, -v n="$2" '$1 == n { print $5 + $6 }' "$1"; }
    ms() { awk -v s="$1" 'BEGIN { printf "%.3f", s * 1000 }'; }
    echo "Character set A00, 40x4 picture (500 runs each; ratio = UTF-8 text / the same codes as \\xHH):"
    printf '  median  UTF-8 rows %s ms vs escaped rows %s ms: ratio %s\n' \
        "$(ms "$(median_of "$c" utf8)")" "$(ms "$(median_of "$c" escapes)")" \
        "$(ratio "$(median_of "$c" utf8)" "$(median_of "$c" escapes)")"
    printf '  mean    UTF-8 rows %s ms vs escaped rows %s ms: ratio %s\n' \
        "$(ms "$(mean_of "$c" utf8)")" "$(ms "$(mean_of "$c" escapes)")" \
        "$(ratio "$(mean_of "$c" utf8)" "$(mean_of "$c" escapes)")"
    printf '  CPU     UTF-8 rows %s ms vs escaped rows %s ms: ratio %s\n' \
        "$(ms "$(cpu_of "$c" utf8)")" "$(ms "$(cpu_of "$c" escapes)")" \
        "$(ratio "$(cpu_of "$c" utf8)" "$(cpu_of "$c" escapes)")"
}

case "$what" in
    pictures) bench_pictures ;;
    interpreter) bench_interpreter ;;
    charset) bench_charset ;;
    all) bench_pictures; bench_interpreter; bench_charset ;;
    *) echo "usage: bench/run.sh [pictures|interpreter|charset|all]" >&2; exit 2 ;;
esac
