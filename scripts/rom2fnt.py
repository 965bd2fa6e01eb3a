#!/usr/bin/env python3
"""Writes a character-set font file (fonts/a00.fnt, fonts/a02.fnt) from a reference table.

The reference is a JSON object keyed "0x00" to "0xFF"; each entry holds "rows" (eight strings
of five dots, '#' lit), "char" (the Unicode text of the code, or null), "aliases" (further
characters the glyph shows) and, for a few A00 codes, "dup_of" (a second form of a letter
that has its own code; such codes get no characters).

Used once to make the files:
    scripts/rom2fnt.py A00 ROM/a00.json fonts/a00.fnt
    scripts/rom2fnt.py A02 ROM/a02.json fonts/a02.fnt
The .fnt files are the source from then on; edit them, not the reference.
Standard library only.
"""
import json
import sys

SOURCES = """\
# Sources. Glyphs: the Hitachi HD44780U datasheet, Table 4, read dot by dot, and the ROM
# tables of wokwi-elements (MIT) and luma.lcd (MIT), which agree with it on every code.
# Unicode: the A00 and A02 codec tables of RPLCD (MIT) and luma.lcd (MIT), and JIS X 0201
# for the half-width katakana.
"""

FORMAT = """\
# The file is an ordinary font file (docs/formats.md): copy it, edit it, or give it to
# vimbracli as a font. 'o' is a lit dot, '.' an unlit one; every code has its eight rows.
#
# The comment of each CODE line lists the characters that the code stands for, separated
# by blanks, the usual one first; U+XXXX names one that cannot be written as itself. With
# CHARSET = {name} in the profile, text in a row argument is mapped to codes through these
# lists. A code without a list is placed only with \\xHH.
"""

NOTES = {
    "A00": """\
# A00 is the Japanese standard set: ASCII with the yen sign at 0x5C and arrows at 0x7E and
# 0x7F (no backslash, no tilde), katakana at 0xA1 to 0xDF, Greek letters and symbols at
# 0xE0 to 0xFF. Those last are 5 x 10 glyphs; in 5 x 8 mode they keep their top eight rows,
# so descenders reach the bottom row. Full-width katakana and hiragana are mapped to the
# half-width forms, voiced and semi-voiced kana (ガ, パ) to two codes, the kana and 0xDE or
# 0xDF, as these modules write Japanese.
""",
    "A02": """\
# A02 is the European set: symbols at 0x10 to 0x1F, ASCII at 0x20 to 0x7F, Cyrillic,
# Latin-1 and Greek letters and symbols at 0x80 to 0xFF. Its glyphs sit one dot row lower
# than A00's: capitals and digits use rows 1 to 7, and row 0 carries accents.
""",
}


def character_words(entry):
    if "dup_of" in entry or entry["char"] is None:
        return []
    words = []
    for text in [entry["char"]] + entry["aliases"]:
        if text.isspace() or text.isprintable() is False:
            words.append(" ".join("U+%04X" % ord(c) for c in text))
        else:
            words.append(text)
    return words


def glyph_block(code, entry):
    lines = []
    if code == 0x00:
        lines.append("# 0x00 to 0x07, and 0x08 to 0x0F which show them again on a module: the")
        lines.append("# user-defined codes, blank here for a font file to fill.")
    if "dup_of" in entry:
        lines.append("# %s with a descender; text %s goes to %s." %
                     (entry["char"], entry["char"], entry["dup_of"]))
    header = "CODE 0x%02X" % code
    words = character_words(entry)
    lines.append(header + ("   # " + " ".join(words) if words else ""))
    for row in entry["rows"]:
        lines.append(row.replace("#", "o"))
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: rom2fnt.py A00|A02 REFERENCE.json OUT.fnt")
    name, source, target = sys.argv[1:]
    table = json.load(open(source, encoding="utf-8"))
    out = ["# %s.fnt - character set %s of the HD44780U character ROM, 5 x 8 dots per code.\n"
           % (name.lower(), name), "#\n", SOURCES, "#\n",
           "# Made from a reference table of these sources by scripts/rom2fnt.py.\n", "#\n",
           FORMAT.format(name=name), "#\n", NOTES[name]]
    for code in range(256):
        entry = table["0x%02X" % code]
        assert len(entry["rows"]) == 8 and all(len(r) == 5 for r in entry["rows"])
        out.append("\n" + glyph_block(code, entry))
    with open(target, "w", encoding="utf-8", newline="\n") as f:
        f.write("".join(out))


if __name__ == "__main__":
    main()
