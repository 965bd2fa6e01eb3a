#!/usr/bin/env bash
# Checks what users get: installs into a staging folder with the package's prefix, follows
# the installed guides' links, runs the installed tool on installed examples, lints the man
# page, builds the host-side test example against the installed C++ library (find_package
# and pkg-config), then builds the Debian packages, checks that together they hold the same
# files, the same version and their Depends, and has lintian find no error and no warning.
# Usage: scripts/check-install.sh [staging folder]   (default build-stage)
set -euo pipefail
cd "$(dirname "$0")/.."
stage="$(pwd)/${1:-build-stage}"

fail() {
    echo "check-install: $*" >&2
    exit 1
}

rm -rf "$stage"
make install PREFIX=/usr DESTDIR="$stage" >/dev/null
bin="$stage/usr/bin/vimbracli"
data="$stage/usr/share/vimbracli"
page="$stage/usr/share/man/man1/vimbracli.1.gz"
doc="$stage/usr/share/doc/vimbracli"
for f in "$bin" "$page" "$doc"/{README.md,formats.md,language.md,copyright,changelog.gz} \
    "$stage"/usr/include/vimbra/{lcd_shim.hpp,vimbra.hpp,arduino/Arduino.h,arduino/LiquidCrystal_I2C.h}; do
    [ -f "$f" ] || fail "not installed: ${f#"$stage"}"
done
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' \
    "$doc/copyright" || fail "the copyright file is not in the machine-readable format"

# Every relative link of the installed guides leads to an installed file and, with a
# #fragment into a guide, to one of its headings (named as the usual Markdown renderers name
# them: lower case, punctuation dropped, spaces as hyphens).
anchors_of() {
    sed -n 's/^#\{1,6\} \{1,\}//p' "$1" | tr '[:upper:]' '[:lower:]' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}
links=0
while IFS= read -r md; do
    while IFS= read -r link; do
        case "$link" in *://* | mailto:*) continue ;; esac
        target="${link%%#*}"
        if [ -n "$target" ]; then target="$(dirname "$md")/$target"; else target="$md"; fi
        [ -e "$target" ] || fail "${md#"$doc"/} links to $link, which is not installed"
        if [[ "$link" == *#* && "$target" == *.md ]]; then
            anchors_of "$target" | grep -qxF -- "${link#*#}" ||
                fail "${md#"$doc"/} links to $link: no such heading"
        fi
        links=$((links + 1))
    done < <(grep -oE '\]\([^) ]+|<img [^>]*src="[^"]+' "$md" | sed -E 's/^\]\(//; s/.*src="//')
done < <(find "$doc" -name '*.md')
echo "The installed guides' $links relative links resolve."
# The installed README shows the installed command and the installed examples.
! grep -n 'build/vimbracli' "$doc/README.md" || fail "the installed README shows build/vimbracli"
paths=0
while IFS= read -r path; do
    [ -e "$stage$path" ] || fail "the installed README names $path, which is not installed"
    paths=$((paths + 1))
done < <(grep -oE '/usr/share/vimbracli/[^ `)*]*' "$doc/README.md" | sed 's/[.,:;]$//' | sort -u)
[ "$paths" -gt 0 ] || fail "the installed README names no installed example"
echo "The installed README names $paths installed files by their installed paths."
# The man page names every installed example folder and the shim header.
man_text="$(zcat "$page")"
for folder in "$data"/examples/*/; do
    name="/usr/share/vimbracli/examples/$(basename "$folder")/"
    grep -qF -- "$name" <<<"$man_text" || fail "the man page does not name $name"
done
grep -qF '/usr/include/vimbra/lcd_shim.hpp' <<<"$man_text" || fail "the man page does not name the shim"
for f in examples/*/* fonts/*.fnt; do
    [ -f "$f" ] || continue
    cmp -s "$f" "$data/$f" || fail "not installed: /usr/share/vimbracli/$f"
done

# green-20x4: 454 x 166 pixels, rows of 1362 bytes padded to 1364: 54 + 1364 * 166 bytes.
# With a character-set file as the font the size stays the same.
fonts=("$data/examples/fonts/symbols.fnt")
for f in "$data"/fonts/*.fnt; do
    [ -f "$f" ] && fonts+=("$f")
done
for font in "${fonts[@]}"; do
    out="$stage/out.bmp"
    rm -f "$out"
    "$bin" "$data/examples/profiles/green-20x4.prof" "$font" "$out" 'Installed' 'Temp 21.5\x01C' \
        >"$stage/run.log" || fail "the installed tool failed with ${font#"$stage"}: $(cat "$stage/run.log")"
    [ ! -s "$stage/run.log" ] || fail "unexpected output with ${font#"$stage"}: $(cat "$stage/run.log")"
    [ "$(stat -c %s "$out")" -eq 226478 ] || fail "picture of the wrong size with ${font#"$stage"}"
    [ "$(od -An -tu4 -j18 -N8 "$out" | tr -s ' ')" = " 454 166" ] || fail "picture not 454 x 166"
done
# The installed firmware shim builds the installed example on its own and writes its log.
c++ -std=c++17 -Wall -Wextra -Werror -I"$stage/usr/include" "$data/examples/firmware/menu.cpp" \
    -o "$stage/firmware_menu" || fail "the installed firmware example does not build"
"$stage/firmware_menu" | cmp -s - "$data/examples/firmware/menu.log" ||
    fail "the installed firmware example writes another log"
echo "Installed firmware shim built the installed menu example, which wrote its log."
# The installed host Arduino environment builds the installed menu sketch unchanged, with the
# flags pkg-config gives, as the guide says; its log, replayed by the installed tool at its
# marks, shows the installed pictures.
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)"
libdir="$stage/usr/lib/$multiarch"
for f in "$libdir/libvimbra_arduino.a" "$libdir/pkgconfig/vimbra-arduino.pc" \
    "$libdir/cmake/vimbra/vimbraArduinoTargets.cmake" "$libdir/cmake/vimbra/vimbraSketch.cmake"; do
    [ -f "$f" ] || fail "not installed: ${f#"$stage"}"
done
arduino_flags="$(PKG_CONFIG_PATH="$libdir/pkgconfig" PKG_CONFIG_SYSROOT_DIR="$stage" \
    pkg-config --cflags --libs vimbra-arduino)" || fail "pkg-config does not know vimbra-arduino"
# shellcheck disable=SC2086 # the flags are words
c++ -Wall -Wextra -Werror -x c++ "$data/examples/sketches/menu/menu.ino" $arduino_flags \
    -o "$stage/sketch_menu" || fail "the installed menu sketch does not build"
"$stage/sketch_menu" --run 37s --input "$data/examples/sketches/menu/menu.stim" \
    --log "$stage/sketch.log" 2>/dev/null || fail "the installed menu sketch did not run"
for at in temperature asleep; do
    "$bin" --replay "$stage/sketch.log" --at "$at" -p "$data/examples/profiles/blue-16x2.prof" \
        --compare "$data/examples/sketches/menu/$at.png" >/dev/null ||
        fail "the installed menu sketch's $at screen differs from its picture"
done
"$bin" --replay "$stage/sketch.log" --timing chip --check-timing --text >/dev/null ||
    fail "the installed menu sketch's log has timing faults"
echo "Installed host Arduino environment built the installed menu sketch, whose screens match."
# The same sketch as a CTest test a mark, through the installed CMake function.
rm -rf "$stage/sketch-test"
cmake -S "$data/examples/sketch-test" -B "$stage/sketch-test" -DCMAKE_PREFIX_PATH="$stage/usr" \
    -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null || fail "vimbra_add_sketch_test failed"
cmake --build "$stage/sketch-test" >/dev/null || fail "the sketch test example does not build"
(cd "$stage/sketch-test" && ctest --output-on-failure --output-junit junit.xml >/dev/null) ||
    fail "the sketch test example fails"
tests="$(grep -c '<testcase ' "$stage/sketch-test/junit.xml")"
[ "$tests" -gt 10 ] || fail "the sketch test example ran $tests tests"
echo "Installed CMake function: the menu sketch's $tests screen tests pass."
# The C++ library: the example firmware test builds with find_package against the staged
# package and passes; with pkg-config it builds too.
for f in "$libdir/libvimbra.a" "$libdir/pkgconfig/vimbra.pc" "$libdir/cmake/vimbra/vimbraConfig.cmake"; do
    [ -f "$f" ] || fail "not installed: ${f#"$stage"}"
done
rm -rf "$stage/host-test"
cmake -S "$data/examples/host-test" -B "$stage/host-test" -DCMAKE_PREFIX_PATH="$stage/usr" \
    -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null || fail "find_package(vimbra) failed"
cmake --build "$stage/host-test" >/dev/null || fail "the host-side test example does not build"
(cd "$stage/host-test" && ctest --output-on-failure >/dev/null) ||
    fail "the host-side test example fails"
flags="$(PKG_CONFIG_PATH="$libdir/pkgconfig" PKG_CONFIG_SYSROOT_DIR="$stage" \
    pkg-config --cflags --libs vimbra)" || fail "pkg-config does not know vimbra"
c++ -std=c++20 -Wall -Wextra -Werror "$data/examples/host-test/menu_test.cpp" $flags \
    -lgtest_main -lgtest -pthread -o "$stage/menu_test_pc" || fail "pkg-config's flags do not build"
"$stage/menu_test_pc" >/dev/null || fail "the host-side test built with pkg-config fails"
echo "Installed C++ library: the host-side test example builds with find_package and pkg-config and passes."
version="$("$bin" | sed -n 's/^ Vimbra (Version \(.*\))$/\1/p')"
[ -n "$version" ] || fail "no version in the installed tool's banner"
echo "Installed tool $version ran on an installed profile with each installed font (${#fonts[@]})."

# Any message of the linters fails the check, warnings included.
for f in man/vimbracli.1 "$page"; do
    lint="$(zcat -f "$f" | groff -man -ww -z 2>&1; mandoc -T lint "$f" 2>&1 || true;
            MANWIDTH=80 man -l "$f" 2>&1 >/dev/null)"
    [ -z "$lint" ] || fail "man page lint, $f:"$'\n'"$lint"
done
echo "Man page lint clean."

make package >/dev/null
arch="$(dpkg --print-architecture)"
deb="build-package/vimbracli_${version}_${arch}.deb"
dev="build-package/libvimbra-dev_${version}_${arch}.deb"
for d in "$deb" "$dev"; do
    [ -f "$d" ] || fail "no package $d"
    dpkg-deb -I "$d"
    dpkg-deb -c "$d"
    [ "$(dpkg-deb -f "$d" Version)" = "$version" ] || fail "$d: version is not $version"
done
depends="$(dpkg-deb -f "$deb" Depends)"
[[ "$depends" == *libc6* ]] || fail "package Depends missing or without libc6: '$depends'"
[[ "$(dpkg-deb -f "$dev" Depends)" == *libpng-dev* ]] || fail "$dev does not depend on libpng-dev"
diff <(for d in "$deb" "$dev"; do dpkg-deb -c "$d"; done | awk '$1 !~ /^d/ {print substr($6, 2)}' | sort) \
     <(cd "$stage" && find usr -type f | sed 's|^|/|' | sort) ||
    fail "the packages' files differ from make install PREFIX=/usr"
echo "Packages $deb and $dev: version $version, Depends: $depends."

# Lintian's informational and pedantic tags are shown too; only errors and warnings fail.
status=0
report="$(lintian --display-info --pedantic --fail-on error,warning "$deb" "$dev" 2>&1)" || status=$?
grep -v '^running with root privileges is not recommended!$' <<<"$report" || true
[ "$status" -eq 0 ] || fail "lintian found errors or warnings in $deb or $dev (status $status)"
# The hardening tags are only informational, but the build sets every flag they look for.
! grep -q ' hardening-' <<<"$report" || fail "the tool lacks some of Debian's hardening"
echo "lintian: no error and no warning."
