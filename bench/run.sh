#!/usr/bin/env bash
# Benchmarks whole runs of vimbracli against references timed in the same run:
#   pictures:    the default 16x2 picture and a 40x4 one with 24-pixel dots, each
#                against `cp` of a file of the same size;
#   interpreter: three loop scripts, against yabasic and brandy running the same loops;
#   charset:     a 40x4 picture in character set A00 whose rows are UTF-8 text, against the
#                same picture with every code written as a \xHH escape;
#   output:      BMP against cp (to a fresh name) and cp + mv (over an existing file), PNG against BMP
#                and ImageMagick's convert, PNG sizes against optipng -o2, a 16384 x 16384
#                BMP's time and peak memory against its pixel buffer, and the PNG writer
#                against libpng and libspng;
#   animation:   a 200-frame marquee of the default module as GIF and APNG: the GIF's size
#                against `gifsicle -O3` of it, the APNG's against apngasm (zlib) of the same
#                frames, the whole run against ImageMagick's `convert -layers Optimize` of
#                those frames and against `gifsicle -O3` optimising the GIF; the example logs'
#                GIF sizes; the GIF writer against giflib's EGifPutLine.
#   replay:      a 1,000,000-line command log replayed to a still picture, against `wc -l`;
#   compare:     --compare of a 25-million-pixel picture with a BMP and a PNG reference,
#                each against rendering and writing the picture in that format;
#   trace:       a 100 MB VCD of a 4-bit bus decoded to a still, against `wc -l` and against
#                sigrok-cli's parallel decoder on the same file, and the peak memory on 1 GB;
#   capture:     a sigrok session of 100 million samples of a 4-bit bus decoded to a still,
#                against `unzip -p` of it and sigrok-cli's parallel decoder on it, with the
#                peak memory; Logic 2's binary export of the same capture against `cat`.
#   header:      VCD headers of many aliases, deep scopes and many signals: processor time
#                and peak memory, against `wc -l` of the same file.
# Usage: bench/run.sh [pictures|interpreter|charset|output|animation|replay|compare|trace|capture|header|all]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:-all}"

bash scripts/install-deps.sh hyperfine time yabasic brandy imagemagick optipng libpng-dev \
    libspng-dev gifsicle apngasm libgif-dev sigrok-cli >/dev/null
make build BUILD="${VIMBRA_BUILD:-build}" >/dev/null
tool="$PWD/${VIMBRA_BUILD:-build}/vimbracli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SDL_VIDEODRIVER=dummy

# Mean seconds of the command named $2 in hyperfine's CSV export $1.
mean_of() { awk -F, -v n="$2" '$1 == n { print $2 }' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
# Median seconds of the command named $2 in hyperfine's CSV export $1.
median_of() { awk -F, -v n="$2" '$1 == n { print $4 }' "$1"; }
# Mean processor seconds (user + system) of the command named $2 in hyperfine's CSV export $1.
cpu_of() { awk -F, -v n="$2" '$1 == n { print $5 + $6 }' "$1"; }
ms() { awk -v s="$1" 'BEGIN { printf "%.2f ms", s * 1000 }'; }
# One line: label, the measured median, the reference median, their ratio and the target.
compare_line() {
    local label="$1" csv="$2" name="$3" ref="$4" ref_label="$5" target="$6"
    local a b
    a=$(median_of "$csv" "$name")
    b=$(median_of "$csv" "$ref")
    printf '  %-40s %10s vs %-18s %10s: ratio %s (target %s)\n' "$label" "$(ms "$a")" \
        "$ref_label" "$(ms "$b")" "$(ratio "$a" "$b")" "$target"
}

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

    # Five rounds of 100 runs, in alternating order, so that a drift of the machine's speed
    # weighs on both sides alike; the figure is the median of the rounds' median ratios.
    local round ratios=() u=0 e=0
    for round in 1 2 3 4 5; do
        local c="$work/charset-$round.csv" first=(-n escapes "$tool ${codes[*]@Q}")
        local second=(-n utf8 "$tool ${utf8[*]@Q}")
        if [ $((round % 2)) -eq 0 ]; then
            hyperfine -N --warmup 10 --runs 100 --export-csv "$c" "${second[@]}" "${first[@]}" >/dev/null 2>&1
        else
            hyperfine -N --warmup 10 --runs 100 --export-csv "$c" "${first[@]}" "${second[@]}" >/dev/null 2>&1
        fi
        ratios+=("$(ratio "$(median_of "$c" utf8)" "$(median_of "$c" escapes)")")
        u=$(awk -v a="$u" -v b="$(median_of "$c" utf8)" 'BEGIN { print a + b / 5 }')
        e=$(awk -v a="$e" -v b="$(median_of "$c" escapes)" 'BEGIN { print a + b / 5 }')
    done
    # Instructions, counted by callgrind: the same for the same binary and input, however busy
    # the machine is, so a difference of a few microseconds still shows.
    instructions() {
        valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
            awk '/Collected/ { print $NF }'
    }
    local iu ie
    iu=$(instructions "$tool" "${utf8[@]}")
    ie=$(instructions "$tool" "${codes[@]}")
    echo "Character set A00, 40x4 picture (whole process; UTF-8 rows against the same codes as \\xHH):"
    printf '  UTF-8 rows %s vs escaped rows %s (means of 5 round medians): ratio %s (target <= 1.05; rounds: %s)\n' \
        "$(ms "$u")" "$(ms "$e")" "$(printf '%s\n' "${ratios[@]}" | sort -n | sed -n 3p)" "${ratios[*]}"
    printf '  instructions (callgrind): UTF-8 rows %s vs escaped rows %s: ratio %s\n' "$iu" "$ie" \
        "$(awk -v a="$iu" -v b="$ie" 'BEGIN { printf "%.4f", a / b }')"
}

bench_output() {
    local font=examples/fonts/symbols.fnt row40='0123456789ABCDEFGHIJ abcdefghij+-*/<>=?!'
    printf 'CHCNT_X 40\nCHCNT_Y 4\nPIXSIZ_X 24\nPIXSIZ_Y 24\n' > "$work/large.prof"
    local default=(examples/profiles/default.prof "$font")
    local default_rows=('Hello, world!' 'Temp 21.5')
    local large=("$work/large.prof" "$font")
    local large_rows=("$row40" "$row40" "$row40" "$row40")
    "$tool" "${default[@]}" "$work/default.bmp" "${default_rows[@]}" >/dev/null
    "$tool" "${large[@]}" "$work/large.bmp" "${large_rows[@]}" >/dev/null
    cp "$work/default.bmp" "$work/default-ref.bmp"
    cp "$work/large.bmp" "$work/large-ref.bmp"
    local d="${default[*]@Q}" dr="${default_rows[*]@Q}" l="${large[*]@Q}" lr="${large_rows[*]@Q}"
    local c="$work/output.csv"

    hyperfine -N --warmup 10 --runs 200 --export-csv "$c" \
        -n cp-default "cp $work/default-ref.bmp $work/copy-default.bmp" \
        -n bmp-default "$tool $d $work/default.bmp $dr" \
        -n png-default "$tool $d $work/default.png $dr" \
        -n cp-large "cp $work/large-ref.bmp $work/copy-large.bmp" \
        -n bmp-large "$tool $l $work/large.bmp $lr" \
        -n png-large "$tool $l $work/large.png $lr" \
        -n convert-large "convert $work/large-ref.bmp $work/convert-large.png" >/dev/null 2>&1
    # The default picture over a file against `cp` over a copy; the large one to a fresh name,
    # and over a file against `cp` to a fresh name plus `mv` over the old file, which is what
    # the tool does there. Five rounds of 40 runs in alternating order,
    # so that a drift of a shared machine's speed weighs on both sides alike; each figure is
    # the median of the rounds' medians.
    cp "$work/large-ref.bmp" "$work/moved-over.bmp"
    local round fresh_runs=() over_runs=() default_runs=() fresh_cpu=() over_cpu=() default_cpu=()
    for round in 1 2 3 4 5; do
        local r="$work/fresh-$round.csv"
        local ours=(--prepare "rm -f $work/fresh.bmp" -n bmp-fresh "$tool $l $work/fresh.bmp $lr"
                    --prepare "true" -n bmp-over "$tool $l $work/large.bmp $lr"
                    --prepare "true" -n bmp-default "$tool $d $work/default.bmp $dr")
        local refs=(--prepare "rm -f $work/fresh-copy.bmp" -n cp-fresh "cp $work/large-ref.bmp $work/fresh-copy.bmp"
                    --prepare "cp $work/large-ref.bmp $work/moved.bmp" -n mv-over "mv $work/moved.bmp $work/moved-over.bmp"
                    --prepare "true" -n cp-default "cp $work/default-ref.bmp $work/copy-default.bmp")
        if [ $((round % 2)) -eq 0 ]; then
            hyperfine -N --warmup 5 --runs 40 --export-csv "$r" "${refs[@]}" "${ours[@]}" >/dev/null 2>&1
        else
            hyperfine -N --warmup 5 --runs 40 --export-csv "$r" "${ours[@]}" "${refs[@]}" >/dev/null 2>&1
        fi
        fresh_runs+=("$(ratio "$(median_of "$r" bmp-fresh)" "$(median_of "$r" cp-fresh)")")
        default_runs+=("$(ratio "$(median_of "$r" bmp-default)" "$(median_of "$r" cp-default)")")
        # Processor time (user + system) as well: a busy machine's waiting is not in it.
        fresh_cpu+=("$(ratio "$(cpu_of "$r" bmp-fresh)" "$(cpu_of "$r" cp-fresh)")")
        over_cpu+=("$(awk -v a="$(cpu_of "$r" bmp-over)" -v c="$(cpu_of "$r" cp-fresh)" \
                       -v m="$(cpu_of "$r" mv-over)" 'BEGIN { printf "%.2f", a / (c + m) }')")
        default_cpu+=("$(ratio "$(cpu_of "$r" bmp-default)" "$(cpu_of "$r" cp-default)")")
        over_runs+=("$(awk -v a="$(median_of "$r" bmp-over)" -v c="$(median_of "$r" cp-fresh)" \
                        -v m="$(median_of "$r" mv-over)" 'BEGIN { printf "%.2f", a / (c + m) }')")
    done
    local f="$work/fresh.csv"
    {
        echo "command,mean,stddev,median,user,system"
        for name in bmp-fresh cp-fresh bmp-over mv-over bmp-default cp-default; do
            printf '%s,0,0,%s,0,0\n' "$name" "$(for round in 1 2 3 4 5; do
                median_of "$work/fresh-$round.csv" "$name"; done | sort -g | sed -n 3p)"
        done
    } > "$f"
    local cp_mv
    cp_mv=$(awk -v a="$(median_of "$f" cp-fresh)" -v b="$(median_of "$f" mv-over)" 'BEGIN { print a + b }')
    printf 'cp-mv,0,0,%s,0,0\n' "$cp_mv" >> "$f"

    echo "Output (whole process, median; the large picture is 40 x 4 cells with 24-pixel dots):"
    compare_line "default 446x112 BMP, over a file" "$f" bmp-default cp-default "cp" "<= 1.0"
    printf '    ratio of each round: %s (median %s)\n' "${default_runs[*]}" \
        "$(printf '%s\n' "${default_runs[@]}" | sort -g | sed -n 3p)"
    printf '    processor time, ratio of each round: %s (median %s)\n' "${default_cpu[*]}" \
        "$(printf '%s\n' "${default_cpu[@]}" | sort -g | sed -n 3p)"
    compare_line "large 5070x834 BMP, to a fresh name" "$f" bmp-fresh cp-fresh "cp" "<= 1.5"
    printf '    ratio of each round: %s (median %s)\n' "${fresh_runs[*]}" \
        "$(printf '%s\n' "${fresh_runs[@]}" | sort -g | sed -n 3p)"
    printf '    processor time, ratio of each round: %s (median %s)\n' "${fresh_cpu[*]}" \
        "$(printf '%s\n' "${fresh_cpu[@]}" | sort -g | sed -n 3p)"
    compare_line "large 5070x834 BMP, over a file" "$f" bmp-over cp-mv "cp + mv" "<= 1.5"
    printf '    ratio of each round: %s (median %s)\n' "${over_runs[*]}" \
        "$(printf '%s\n' "${over_runs[@]}" | sort -g | sed -n 3p)"
    printf '    processor time, ratio of each round: %s (median %s)\n' "${over_cpu[*]}" \
        "$(printf '%s\n' "${over_cpu[@]}" | sort -g | sed -n 3p)"
    compare_line "large 5070x834 BMP, over a file" "$c" bmp-large cp-large "cp" "(for the record)"
    compare_line "default PNG" "$c" png-default bmp-default "default BMP" "<= 1.5"
    compare_line "large PNG" "$c" png-large bmp-large "large BMP" "<= 2"
    compare_line "large PNG" "$c" png-large convert-large "convert BMP->PNG" "<= 0.2"

    echo "PNG sizes against optipng -o2 of the same picture (target: ratio <= 1.1):"
    local name
    size_line() {
        rm -f "$work/opt-$1.png"
        optipng -quiet -o2 -out "$work/opt-$1.png" "$work/$1.png" 2>/dev/null
        local ours opt
        ours=$(stat -c %s "$work/$1.png")
        opt=$(stat -c %s "$work/opt-$1.png")
        printf '  %-40s %7s bytes vs optipng %7s bytes: ratio %s\n' "$1" "$ours" "$opt" \
            "$(ratio "$ours" "$opt")"
    }
    size_line default
    size_line large
    for profile in examples/profiles/*.prof; do
        name=$(basename "$profile" .prof)
        "$tool" "$profile" "$font" "$work/$name.png" 'Hello, world! \x00\x01' 'Temp 21.5\x01C \x02' >/dev/null
        size_line "$name"
    done

    echo "PNG writers on the same pixels (encoding in memory only):"
    g++ -O2 -std=c++20 -Isrc bench/png_libs.cpp "$(dirname "$tool")/libvimbra.a" -lpng -lspng -lz \
        -o "$work/png_libs"
    "$work/png_libs" default "${default[@]}" "${default_rows[@]}"
    "$work/png_libs" large "${large[@]}" "${large_rows[@]}"

    # 629 x 398 cells of the default geometry with CHOFS_Y 34: exactly 16384 x 16384 pixels.
    printf 'CHCNT_X 629\nCHCNT_Y 398\nCHOFS_Y 34\n' > "$work/huge.prof"
    local huge=("$work/huge.prof" "$font" "$work/huge.bmp" 'Hello, world!' 'Temp 21.5')
    local times=() peak=0 run
    for run in 1 2 3; do
        rm -f "$work/huge.bmp"
        run=$( { /usr/bin/time -f '%e %M' "$tool" "${huge[@]}" >/dev/null; } 2>&1 | tail -n 1)
        times+=("${run% *}")
        [ "${run#* }" -gt "$peak" ] && peak="${run#* }"
    done
    local buffer_kib=$((16384 * 16384 * 3 / 1024))
    printf '  16384x16384 BMP (%s bytes): median %s s of 3 (target <= 2 s), peak %s KiB vs pixel buffer %s KiB: ratio %s (target <= 1.1)\n' \
        "$(stat -c %s "$work/huge.bmp")" "$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)" \
        "$peak" "$buffer_kib" "$(ratio "$peak" "$buffer_kib")"
}

size_line() {
    printf '  %-40s %8s bytes vs %-18s %8s bytes: ratio %s (target %s)\n' "$1" "$2" "$3" "$4" \
        "$(ratio "$2" "$4")" "$5"
}

bench_animation() {
    local a="$work/anim" i
    mkdir -p "$a/frames"
    # 200 moments: the text, then 199 shifts 100 ms apart; the display's 40-position ring
    # never shows two equal pictures in a row.
    {
        printf 'init\nprint "Vimbra marquee: 200 frames of a replayed log"\n'
        for i in $(seq 199); do printf 'wait 100ms\nshift left\n'; done
        printf 'wait 100ms\n'
    } > "$a/marquee.log"
    local gif=(--hold 0s --replay "$a/marquee.log" -o "$a/marquee.gif")
    "$tool" "${gif[@]}"
    "$tool" --hold 0s --replay "$a/marquee.log" -o "$a/marquee.apng"
    for i in $(seq 0 199); do
        "$tool" --replay "$a/marquee.log" --at "$((i * 100))ms" -o "$(printf '%s/frames/%03d.png' "$a" "$i")"
    done
    gifsicle -O3 "$a/marquee.gif" -o "$a/marquee-O3.gif"
    (cd "$a" && apngasm marquee-apngasm.png frames/*.png 1 10 -z0 >/dev/null)
    echo "Animations: a 200-frame marquee of the default module"
    size_line "GIF" "$(stat -c %s "$a/marquee.gif")" "gifsicle -O3 of it" \
        "$(stat -c %s "$a/marquee-O3.gif")" "<= 1.1"
    size_line "APNG" "$(stat -c %s "$a/marquee.apng")" "apngasm -z0" \
        "$(stat -c %s "$a/marquee-apngasm.png")" "<= 1.1"
    local c="$work/animation.csv"
    hyperfine -N --warmup 2 --runs 10 --export-csv "$c" \
        -n vimbracli "$tool ${gif[*]@Q}" \
        -n gifsicle "gifsicle -O3 $a/marquee.gif -o $a/again.gif" >/dev/null
    hyperfine --warmup 1 --runs 3 --export-csv "$work/convert.csv" \
        -n convert "convert -delay 10 $a/frames/*.png -layers Optimize $a/convert.gif" >/dev/null
    local ours theirs
    ours=$(median_of "$c" vimbracli)
    theirs=$(median_of "$work/convert.csv" convert)
    printf '  %-40s %10s vs %-18s %10s: %sx faster (target >= 20)\n' "GIF of the log, whole run" \
        "$(ms "$ours")" "convert -layers Opt." "$(ms "$theirs")" "$(ratio "$theirs" "$ours")"
    compare_line "GIF of the log, whole run" "$c" vimbracli gifsicle "gifsicle -O3" "<= 1"
    echo "  The example logs as GIFs, against gifsicle -O3 of each:"
    local log name profile
    for log in examples/logs/*.log; do
        name=$(basename "$log" .log)
        profile=$(sed -n 's/^# Try: vimbracli -p \([^ ]*\) .*/\1/p' "$log")
        "$tool" ${profile:+-p "$profile"} --replay "$log" -o "$a/$name.gif"
        gifsicle -O3 "$a/$name.gif" -o "$a/$name-O3.gif"
        size_line "  $name.gif" "$(stat -c %s "$a/$name.gif")" "gifsicle -O3" \
            "$(stat -c %s "$a/$name-O3.gif")" "<= 1.1"
    done
    echo "GIF writers on the same 200 frames (encoding in memory only):"
    g++ -O2 -std=c++20 -Isrc bench/gif_libs.cpp "$(dirname "$tool")/libvimbra.a" -lgif -lpng -lz \
        -o "$work/gif_libs"
    "$work/gif_libs" "$a/again.gif" "$a/again.apng" 100 "$a"/frames/*.png
}

# A 1,000,000-line command log (init, then rounds of goto, print, cursor moves, a custom glyph,
# shifts and waits) replayed to a still picture, against `wc -l` reading the same file.
bench_replay() {
    local log="$work/million.log"
    awk 'BEGIN {
        print "init"; print "cursor on"; print "blink on"
        n = 3
        while (n < 1000000) {
            r = n % 7
            if (r == 0) print "goto " (n % 16) " " (n % 2)
            else if (r == 1) print "print \"" sprintf("%06d", n) "\""
            else if (r == 2) print "cmd 0x14 0x10"
            else if (r == 3) print "data 0x41 0x42 0x43"
            else if (r == 4) print "wait 1ms"
            else if (r == 5) print "shift left"
            else print "shift right"
            n++
        }
    }' > "$log"
    local lines
    lines=$(wc -l < "$log")
    hyperfine -N --warmup 2 --runs 10 --export-csv "$work/replay.csv" \
        -n wc "wc -l $log" \
        -n replay "$tool --replay $log -p examples/profiles/default.prof $work/replay.bmp" >/dev/null
    echo "Replay ($lines log lines to a still picture):"
    compare_line "replay --replay $lines lines" "$work/replay.csv" replay wc "wc -l" \
        "none; absolute target < 500 ms"
}

# --compare of a large picture (200 x 60 cells of 6-pixel dots, about 25 million pixels)
# with a reference of the same size, against rendering and writing that picture.
bench_compare() {
    printf 'CHCNT_X 200\nCHCNT_Y 60\nPIXSIZ_X 6\nPIXSIZ_Y 6\n' > "$work/compare.prof"
    local rows=('Hello, world!' 'Temp 21.5')
    "$tool" -p "$work/compare.prof" -o "$work/ref.bmp" "${rows[@]}"
    "$tool" -p "$work/compare.prof" -o "$work/ref.png" "${rows[@]}"
    hyperfine -N --warmup 2 --runs 15 --export-csv "$work/compare.csv" \
        -n render "$tool -p $work/compare.prof -o $work/out.bmp ${rows[*]@Q}" \
        -n render-png "$tool -p $work/compare.prof -o $work/out.png ${rows[*]@Q}" \
        -n compare-bmp "$tool -p $work/compare.prof --compare $work/ref.bmp ${rows[*]@Q}" \
        -n compare-png "$tool -p $work/compare.prof --compare $work/ref.png ${rows[*]@Q}" \
        >/dev/null
    echo "Compare ($(stat -c %s "$work/ref.bmp") bytes of BMP reference):"
    compare_line "--compare with a BMP reference" "$work/compare.csv" compare-bmp render \
        "writing the BMP" "<= 1.2"
    compare_line "--compare with a PNG reference" "$work/compare.csv" compare-png render-png \
        "writing the PNG" "<= 1.2"
}

# A VCD of a 4-bit bus (bench/trace_gen.cpp: power-on, set-up, then both lines rewritten with
# a count, every wait the chip's) decoded to a still picture with the chip's timing, against
# `wc -l` reading the same file and against sigrok-cli's `parallel` decoder on it; then the
# tool's peak memory on a 1 GB trace of the same kind, which must not grow with the length.
bench_trace() {
    local t="$work/trace"
    mkdir -p "$t"
    g++ -O2 -std=c++20 bench/trace_gen.cpp -o "$t/trace_gen"
    "$t/trace_gen" 100 > "$t/bus.vcd"
    local still=("$tool" --replay "$t/bus.vcd" -p examples/profiles/default.prof -o "$t/still.bmp")
    "${still[@]}"
    # sigrok-cli samples the VCD every 500 ns (every edge of the trace falls on one), clocks the
    # decoder on E's falling edge and joins two nibbles to a word, high first. Debian's build
    # may abort in Python's clean-up after the last word, hence -i; the word count shows that
    # it decoded the whole file.
    local sigrok=(sigrok-cli -i "$t/bus.vcd" -I vcd:downsample=500
        -P parallel:clk=e:d0=d4:d1=d5:d2=d6:d3=d7:clock_edge=falling:wordsize=2:endianness=big
        -A parallel=words)
    local words
    words=$("${sigrok[@]}" 2>/dev/null | grep -c '^parallel' || true)
    hyperfine -N --warmup 1 --runs 5 --export-csv "$t/decode.csv" \
        -n wc "wc -l $t/bus.vcd" \
        -n decode "${still[*]@Q}" >/dev/null
    hyperfine -N -i --runs 2 --export-csv "$t/sigrok.csv" -n sigrok "${sigrok[*]@Q}" >/dev/null 2>&1
    local ours theirs
    ours=$(median_of "$t/decode.csv" decode)
    theirs=$(median_of "$t/sigrok.csv" sigrok)
    echo "Trace ($(stat -c %s "$t/bus.vcd") bytes, $(wc -l < "$t/bus.vcd") lines of VCD; sigrok-cli decoded $words words):"
    compare_line "decode to a still" "$t/decode.csv" decode wc "wc -l" "<= 10"
    printf '  %-40s %10s vs %-18s %10s: %sx faster (target >= 10)\n' "decode to a still" \
        "$(ms "$ours")" "sigrok-cli parallel" "$(ms "$theirs")" "$(ratio "$theirs" "$ours")"
    # The same in processor time (user + system, means), which a busy machine disturbs less.
    local cpu_ours cpu_wc cpu_theirs
    cpu_ours=$(cpu_of "$t/decode.csv" decode)
    cpu_wc=$(cpu_of "$t/decode.csv" wc)
    cpu_theirs=$(cpu_of "$t/sigrok.csv" sigrok)
    printf '  %-40s %10s vs %-18s %10s: ratio %s (target <= 10)\n' "processor time" \
        "$(ms "$cpu_ours")" "wc -l" "$(ms "$cpu_wc")" "$(ratio "$cpu_ours" "$cpu_wc")"
    printf '  %-40s %10s vs %-18s %10s: %sx less (target >= 10)\n' "processor time" \
        "$(ms "$cpu_ours")" "sigrok-cli parallel" "$(ms "$cpu_theirs")" \
        "$(ratio "$cpu_theirs" "$cpu_ours")"
    local small big
    small=$(peak_kib "${still[@]}")
    rm -f "$t/bus.vcd"
    "$t/trace_gen" 1000 > "$t/big.vcd"
    big=$( { /usr/bin/time -f '%e %M' "$tool" --replay "$t/big.vcd" \
        -p examples/profiles/default.prof -o "$t/big.bmp" >/dev/null; } 2>&1 | tail -n 1)
    printf '  peak RSS: %s KiB on %s bytes (%s s), %s KiB on 100 MB (target <= 65536 KiB)\n' \
        "${big#* }" "$(stat -c %s "$t/big.vcd")" "${big% *}" "$small"
}

# A sigrok session of 100 million samples (2 MHz for 50 s; bench/capture_gen.cpp: the bus of
# bench/trace_gen.cpp, sampled) made by sigrok-cli from the raw samples, decoded to a still
# picture, against `unzip -p` inflating the same file and against sigrok-cli's `parallel`
# decoder on it, and the tool's peak memory; then the Saleae Logic 2 binary export of the same
# capture (one file per channel) decoded, against `cat` of its files.
bench_capture() {
    local t="$work/capture"
    mkdir -p "$t/export"
    g++ -O2 -std=c++20 bench/capture_gen.cpp -o "$t/capture_gen"
    "$t/capture_gen" raw 100 > "$t/bus.bin"
    sigrok-cli -I binary:numchannels=7:samplerate=2000000 -i "$t/bus.bin" -o "$t/bus.sr"
    rm -f "$t/bus.bin"
    "$t/capture_gen" saleae 100 "$t/export"
    local still=("$tool" --replay "$t/bus.sr" --pins rs=0,rw=1,e=2,d4=3,d5=4,d6=5,d7=6
        -p examples/profiles/default.prof -o "$t/still.bmp")
    local saleae=("$tool" --replay "$t/export"
        --pins "rs=Channel 0,rw=Channel 1,e=Channel 2,d4=Channel 3,d5=Channel 4,d6=Channel 5,d7=Channel 6"
        -p examples/profiles/default.prof -o "$t/saleae.bmp")
    "${still[@]}"
    "${saleae[@]}"
    cmp "$t/still.bmp" "$t/saleae.bmp"
    local sigrok=(sigrok-cli -i "$t/bus.sr"
        -P parallel:clk=2:d0=3:d1=4:d2=5:d3=6:clock_edge=falling:wordsize=2:endianness=big
        -A parallel=words)
    local words
    words=$("${sigrok[@]}" 2>/dev/null | grep -c '^parallel' || true)
    hyperfine -N --warmup 1 --runs 5 --export-csv "$t/decode.csv" \
        -n unzip "unzip -p $t/bus.sr" \
        -n decode "${still[*]@Q}" \
        -n cat "cat $(echo "$t"/export/digital_*.bin)" \
        -n saleae "${saleae[*]@Q}" >/dev/null
    hyperfine -N -i --runs 2 --export-csv "$t/sigrok.csv" -n sigrok "${sigrok[*]@Q}" >/dev/null 2>&1
    local ours theirs
    ours=$(median_of "$t/decode.csv" decode)
    theirs=$(median_of "$t/sigrok.csv" sigrok)
    echo "Capture ($(stat -c %s "$t/bus.sr") bytes of session for 100000000 samples;" \
        "$(du -cb "$t"/export/*.bin | tail -n 1 | cut -f 1) bytes of Saleae export; sigrok-cli decoded $words words):"
    compare_line "session to a still" "$t/decode.csv" decode unzip "unzip -p" "<= 3"
    printf '  %-40s %10s vs %-18s %10s: %sx faster (target >= 10)\n' "session to a still" \
        "$(ms "$ours")" "sigrok-cli parallel" "$(ms "$theirs")" "$(ratio "$theirs" "$ours")"
    compare_line "Saleae binary export to a still" "$t/decode.csv" saleae cat "cat" "-"
    printf '  peak RSS: %s KiB for the session, %s KiB for the Saleae export (target <= 65536 KiB)\n' \
        "$(peak_kib "${still[@]}")" "$(peak_kib "${saleae[@]}")"
}

# VCD headers that once took quadratic time or gigabytes: 100,000 signals on one identifier
# code, 100,000 nested scopes holding 10,000 signals (refused at the depth cap), scopes
# nested to the cap with 10,000 signals of one name (accepted), and a million flat signals
# (refused at the signal cap). Each against `wc -l` of the same file.
bench_header() {
    local h="$work/header"
    mkdir -p "$h"
    awk 'BEGIN { print "$timescale 1ns $end"
                 for (i = 0; i < 100000; i++) printf "$var wire 1 ! s%d $end\n", i
                 print "$var wire 1 \" rs $end\n$var wire 1 # e $end\n$var wire 4 $ d [7:4] $end"
                 print "$enddefinitions $end\n#0\n0!\n0\"\n0#\nb0000 $" }' > "$h/alias.vcd"
    awk 'BEGIN { print "$timescale 1ns $end"
                 for (i = 0; i < 100000; i++) print "$scope module m $end"
                 for (i = 0; i < 10000; i++) printf "$var wire 1 ! v%d $end\n", i
                 print "$enddefinitions $end" }' > "$h/deep.vcd"
    awk 'BEGIN { print "$timescale 1ns $end"
                 for (i = 0; i < 999; i++) printf "$scope module m%d $end\n", i
                 for (i = 0; i < 10000; i++) printf "$var wire 1 v%d rs $end\n", i
                 for (i = 0; i < 999; i++) print "$upscope $end"
                 print "$var wire 1 ! rs $end\n$var wire 1 # e $end\n$var wire 4 $ d [7:4] $end"
                 print "$enddefinitions $end\n#0\n0!\n0#\nb0000 $" }' > "$h/deepcap.vcd"
    awk 'BEGIN { print "$timescale 1ns $end"
                 for (i = 0; i < 1000000; i++) printf "$var wire 1 s%d s%d $end\n", i, i
                 print "$enddefinitions $end" }' > "$h/flat.vcd"
    echo "VCD headers (processor time and peak memory of the whole run; targets: < 1 s, bounded):"
    local name file status cpu wc_cpu peak
    for name in alias deep deepcap flat; do
        file="$h/$name.vcd"
        status=0
        /usr/bin/time -f '%U %S %M' -o "$h/time" "$tool" --replay "$file" \
            --pins 'rs=rs,e=e,d4=d[4],d5=d[5],d6=d[6],d7=d[7]' --text >/dev/null 2>"$h/err" || status=$?
        # A failing run's first line says so: the figures are on the last.
        cpu=$(tail -n 1 "$h/time" | awk '{ printf "%.2f", $1 + $2 }')
        peak=$(tail -n 1 "$h/time" | awk '{ print $3 }')
        /usr/bin/time -f '%U %S' -o "$h/time" wc -l "$file" >/dev/null
        wc_cpu=$(awk '{ printf "%.2f", $1 + $2 }' "$h/time")
        printf '  %-8s %9s bytes: %s s of processor time (wc -l %s s), peak %6s KiB, status %s: %s\n' \
            "$name" "$(stat -c %s "$file")" "$cpu" "$wc_cpu" "$peak" "$status" \
            "$(head -n 1 "$h/err" | sed "s|$h/||" | cut -c 1-70)"
    done
}

case "$what" in
    pictures) bench_pictures ;;
    interpreter) bench_interpreter ;;
    charset) bench_charset ;;
    output) bench_output ;;
    animation) bench_animation ;;
    replay) bench_replay ;;
    compare) bench_compare ;;
    trace) bench_trace ;;
    capture) bench_capture ;;
    header) bench_header ;;
    all) bench_pictures; bench_interpreter; bench_charset; bench_output; bench_animation
         bench_replay; bench_compare; bench_trace; bench_capture; bench_header ;;
    *) echo "usage: bench/run.sh [pictures|interpreter|charset|output|animation|replay|compare|trace|capture|header|all]" >&2; exit 2 ;;
esac
