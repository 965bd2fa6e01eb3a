#!/usr/bin/env bash
# Checks what users get: installs into a staging folder with the package's prefix, runs the
# installed tool on installed examples, lints the man page, then builds the Debian package
# and checks that it holds the same files, the same version and a computed Depends.
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
for f in "$bin" "$page" "$stage"/usr/share/doc/vimbracli/{README.md,formats.md,language.md} \
    "$stage"/usr/include/vimbra/lcd_shim.hpp; do
    [ -f "$f" ] || fail "not installed: ${f#"$stage"}"
done
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
[ -f "$deb" ] || fail "no package $deb"
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends="$(dpkg-deb -f "$deb" Depends)"
[[ "$depends" == *libc6* ]] || fail "package Depends missing or without libc6: '$depends'"
diff <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print substr($6, 2)}' | sort) \
     <(cd "$stage" && find usr -type f | sed 's|^|/|' | sort) ||
    fail "the package's files differ from make install PREFIX=/usr"
echo "Package $deb: version $version, Depends: $depends."
