#include "chip/charset.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string_view>

#include "base/util.hpp"

namespace vimbra {

namespace {

// fonts/a00.fnt and fonts/a02.fnt, wrapped in raw string literals by the build: they are the
// one source of both the glyphs and the characters of each set, parsed below at compile time.
constexpr std::string_view A00_FNT =
#include "fonts/a00.fnt.inc"
    ;
constexpr std::string_view A02_FNT =
#include "fonts/a02.fnt.inc"
    ;

// ---- UTF-8 ----

struct utf8_char_t {
    char32_t cp;
    int length; // bytes read; for a refused sequence the bytes that make it up
    int status; // 0, or the CHARSET_* status of the invalid sequence
};

constexpr std::array<char32_t, 4> SMALLEST_OF_LENGTH{0, 0x80, 0x800, 0x10000}; // by extra bytes
constexpr char32_t LARGEST_CODE_POINT = 0x10FFFF;

// The fault of a sequence that no later byte can mend, known from its lead byte and, when
// `second` is not 0, its second byte; 0 while it may still be valid. A sequence cut short
// after such bytes is named by this fault, not as truncated.
constexpr int utf8_doomed(unsigned lead, unsigned second) {
    if (lead == 0xC0 || lead == 0xC1) {
        return CHARSET_OVERLONG;
    }
    if (lead >= 0xF5) {
        return CHARSET_ABOVE_MAX;
    }
    if (second == 0) {
        return 0;
    }
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xF0 && second < 0x90)) {
        return CHARSET_OVERLONG;
    }
    if (lead == 0xED && second >= 0xA0) {
        return CHARSET_SURROGATE;
    }
    if (lead == 0xF4 && second >= 0x90) {
        return CHARSET_ABOVE_MAX;
    }
    return 0;
}

// Reads one character of NUL-terminated text; never reads past the terminator, which is no
// continuation byte.
constexpr utf8_char_t utf8_read(const char* s) {
    const auto lead = static_cast<unsigned char>(s[0]);
    if (lead < 0x80) {
        return {lead, 1, 0};
    }
    if (lead < 0xC0) {
        return {lead, 1, CHARSET_STRAY_CONTINUATION};
    }
    if (lead >= 0xF8) {
        return {lead, 1, CHARSET_NOT_UTF8};
    }
    const int extra = lead < 0xE0 ? 1 : (lead < 0xF0 ? 2 : 3);
    char32_t cp = lead & (0x3FU >> extra);
    for (int i = 1; i <= extra; ++i) {
        const auto byte = static_cast<unsigned char>(s[i]);
        if ((byte & 0xC0U) != 0x80U) {
            const int doomed = utf8_doomed(lead, i > 1 ? static_cast<unsigned char>(s[1]) : 0);
            return {0, i, doomed != 0 ? doomed : CHARSET_TRUNCATED};
        }
        cp = (cp << 6) | (byte & 0x3FU);
    }
    int status = 0;
    if (cp < SMALLEST_OF_LENGTH[static_cast<std::size_t>(extra)]) {
        status = CHARSET_OVERLONG;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
        status = CHARSET_SURROGATE;
    } else if (cp > LARGEST_CODE_POINT) {
        status = CHARSET_ABOVE_MAX;
    }
    return {cp, extra + 1, status};
}

// ---- The set files, read at compile time ----
//
// They are font files in a strict shape that a build-time check enforces: each code has one
// `CODE 0xHH` line and then eight rows of exactly five '.' or 'o'. The comment of a CODE line
// lists the characters of the code, separated by blanks; U+XXXX names one by its number.

constexpr bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// One line: what precedes its comment (without trailing blanks), and the comment.
struct fnt_line_t {
    std::string_view body;
    std::string_view comment;
};

// One plain pass over the characters, through a bare pointer: the compile-time evaluation
// budget of some compilers is small, and checked indexing costs several steps a character.
template <class Visit> constexpr void for_each_line(std::string_view text, Visit visit) {
    const char* const data = text.data();
    const std::size_t size = text.size();
    std::size_t start = 0;
    while (start < size) {
        std::size_t hash = size;
        std::size_t end = start;
        for (; end < size && data[end] != '\n'; ++end) {
            if (data[end] == '#' && hash == size) {
                hash = end;
            }
        }
        std::size_t body_end = hash < end ? hash : end;
        while (body_end > start && is_blank(data[body_end - 1])) {
            --body_end;
        }
        fnt_line_t split{{data + start, body_end - start}, {}};
        if (hash < end) {
            split.comment = {data + hash + 1, end - hash - 1};
        }
        visit(split);
        start = end + 1;
    }
}

// The code of a `CODE 0xHH` line body; -1 for any other.
constexpr int header_code(std::string_view body) {
    const char* const p = body.data();
    const std::size_t size = body.size();
    if (size < 4 || p[0] != 'C' || p[1] != 'O' || p[2] != 'D' || p[3] != 'E') {
        return -1;
    }
    std::size_t i = 4;
    while (i < size && (is_blank(p[i]) || p[i] == '=')) {
        ++i;
    }
    if (i == 4 || size != i + 4 || p[i] != '0' || p[i + 1] != 'x') {
        return -1;
    }
    const int high = get_hexval(p[i + 2]);
    const int low = get_hexval(p[i + 3]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

struct parsed_glyphs_t {
    charset_glyphs_t glyphs;
    bool ok; // every code defined once, with eight rows of five dots
};

constexpr parsed_glyphs_t parse_glyphs(std::string_view text) {
    parsed_glyphs_t out{{}, true};
    std::array<bool, CHARSET_GLYPH_COUNT> defined{};
    int code = -1;
    int row = 8;
    for_each_line(text, [&](const fnt_line_t& line) {
        if (line.body.empty()) {
            return;
        }
        const int header = header_code(line.body);
        if (header >= 0) {
            out.ok = out.ok && row == 8 && !defined[static_cast<std::size_t>(header)];
            defined[static_cast<std::size_t>(header)] = true;
            code = header;
            row = 0;
            return;
        }
        if (row >= 8 || line.body.size() != CHARSET_GLYPH_BYTES) {
            out.ok = false;
            return;
        }
        for (int column = 0; column < CHARSET_GLYPH_BYTES; ++column) {
            const char dot = line.body.data()[column];
            auto& bits = out.glyphs[static_cast<std::size_t>(code * CHARSET_GLYPH_BYTES + column)];
            if (dot == 'o') {
                bits = static_cast<unsigned char>(bits | (1U << row));
            } else if (dot != '.') {
                out.ok = false;
            }
        }
        ++row;
    });
    out.ok =
        out.ok && row == 8 && std::all_of(defined.begin(), defined.end(), [](bool d) { return d; });
    return out;
}

constexpr bool entry_less(const charset_entry_t& a, const charset_entry_t& b) {
    return a.first != b.first ? a.first < b.first : a.second < b.second;
}

constexpr std::size_t MAP_SCRATCH = 1024; // more entries than any set has

// A set's characters while they are collected; `ok` turns false on anything malformed.
struct map_scratch_t {
    std::array<charset_entry_t, MAP_SCRATCH> entries;
    std::size_t count;
    bool ok;

    constexpr void add(char32_t first, char32_t second, unsigned char code, unsigned char mark,
                       unsigned char code_count) {
        if (count == MAP_SCRATCH) {
            ok = false;
            return;
        }
        entries[count] = {first, second, {code, mark}, code_count};
        ++count;
    }
    constexpr bool has(char32_t first, char32_t second) const {
        for (std::size_t i = 0; i < count; ++i) {
            if (entries[i].first == first && entries[i].second == second) {
                return true;
            }
        }
        return false;
    }
    // The one code of a one-code-point character; -1 when it has none.
    constexpr int code_of(char32_t cp) const {
        for (std::size_t i = 0; i < count; ++i) {
            if (entries[i].first == cp && entries[i].second == 0 && entries[i].code_count == 1) {
                return entries[i].codes[0];
            }
        }
        return -1;
    }
};

// The character of one word of a CODE line comment: U+XXXX, or one or two code points.
struct word_t {
    std::array<char32_t, 2> cps; // the second is 0 for a one-code-point character
    bool ok;
};

constexpr word_t read_word(std::string_view word) {
    word_t out{{}, true};
    if (word.size() >= 6 && word.substr(0, 2) == "U+" && word.size() <= 8) {
        for (const char c : word.substr(2)) {
            const int digit = get_hexval(c);
            out.ok = out.ok && digit >= 0;
            out.cps[0] = out.cps[0] * 16 + static_cast<char32_t>(digit < 0 ? 0 : digit);
        }
        return out;
    }
    std::size_t pos = 0;
    std::size_t n = 0;
    while (pos < word.size() && n < out.cps.size()) {
        const utf8_char_t c = utf8_read(word.data() + pos);
        out.ok = out.ok && c.status == 0;
        out.cps[n++] = c.cp;
        pos += static_cast<std::size_t>(c.length);
    }
    out.ok = out.ok && pos == word.size() && out.cps[0] != 0;
    return out;
}

// Adds the character word of one CODE line comment.
constexpr void add_word(map_scratch_t& map, int code, std::string_view word) {
    const word_t w = read_word(word);
    map.ok = map.ok && w.ok;
    map.add(w.cps[0], w.cps[1], static_cast<unsigned char>(code), 0, 1);
}

// The first word of a comment; empty when it has none.
constexpr std::string_view first_word(std::string_view comment) {
    std::size_t start = 0;
    while (start < comment.size() && is_blank(comment[start])) {
        ++start;
    }
    std::size_t end = start;
    while (end < comment.size() && !is_blank(comment[end])) {
        ++end;
    }
    return comment.substr(start, end - start);
}

// A letter with one accent, and the letter and combining mark it decomposes into.
struct decomposed_t {
    char32_t composed;
    char32_t base;
    char32_t mark;
};

constexpr char32_t GRAVE = 0x0300;
constexpr char32_t ACUTE = 0x0301;
constexpr char32_t CIRCUMFLEX = 0x0302;
constexpr char32_t TILDE = 0x0303;
constexpr char32_t BREVE = 0x0306;
constexpr char32_t DIAERESIS = 0x0308;
constexpr char32_t RING = 0x030A;
constexpr char32_t CEDILLA = 0x0327;

// The capital accented letters of Latin-1; each small one lies 0x20 above its capital, and
// so does its base letter.
constexpr std::array<decomposed_t, 26> LATIN1_CAPITALS{{
    {U'À', U'A', GRAVE},      {U'Á', U'A', ACUTE},      {U'Â', U'A', CIRCUMFLEX},
    {U'Ã', U'A', TILDE},      {U'Ä', U'A', DIAERESIS},  {U'Å', U'A', RING},
    {U'Ç', U'C', CEDILLA},    {U'È', U'E', GRAVE},      {U'É', U'E', ACUTE},
    {U'Ê', U'E', CIRCUMFLEX}, {U'Ë', U'E', DIAERESIS},  {U'Ì', U'I', GRAVE},
    {U'Í', U'I', ACUTE},      {U'Î', U'I', CIRCUMFLEX}, {U'Ï', U'I', DIAERESIS},
    {U'Ñ', U'N', TILDE},      {U'Ò', U'O', GRAVE},      {U'Ó', U'O', ACUTE},
    {U'Ô', U'O', CIRCUMFLEX}, {U'Õ', U'O', TILDE},      {U'Ö', U'O', DIAERESIS},
    {U'Ù', U'U', GRAVE},      {U'Ú', U'U', ACUTE},      {U'Û', U'U', CIRCUMFLEX},
    {U'Ü', U'U', DIAERESIS},  {U'Ý', U'Y', ACUTE},
}};
constexpr char32_t LATIN1_SMALL_OFFSET = 0x20;

constexpr std::array<decomposed_t, 5> OTHER_DECOMPOSED{{
    {U'ÿ', U'y', DIAERESIS},
    {U'Ё', U'Е', DIAERESIS},
    {U'ё', U'е', DIAERESIS},
    {U'Й', U'И', BREVE},
    {U'й', U'и', BREVE},
}};

// Text written decomposed (a letter, then its combining mark: macOS file names arrive so)
// maps like the composed letter where the set has it.
constexpr void add_decomposed(map_scratch_t& map) {
    const auto add_one = [&map](const decomposed_t& d) {
        const int code = map.code_of(d.composed);
        if (code >= 0 && !map.has(d.base, d.mark)) {
            map.add(d.base, d.mark, static_cast<unsigned char>(code), 0, 1);
        }
    };
    for (const decomposed_t& d : LATIN1_CAPITALS) {
        add_one(d);
        add_one({d.composed + LATIN1_SMALL_OFFSET, d.base + LATIN1_SMALL_OFFSET, d.mark});
    }
    for (const decomposed_t& d : OTHER_DECOMPOSED) {
        add_one(d);
    }
}

// Katakana written with a voicing mark, and the kana they are written with.
struct voiced_kana_t {
    char32_t composed;
    char32_t base;
    bool semi; // semi-voiced (゜), else voiced (゛)
};

constexpr std::array<voiced_kana_t, 28> VOICED_KATAKANA{{
    {U'ガ', U'カ', false}, {U'ギ', U'キ', false}, {U'グ', U'ク', false}, {U'ゲ', U'ケ', false},
    {U'ゴ', U'コ', false}, {U'ザ', U'サ', false}, {U'ジ', U'シ', false}, {U'ズ', U'ス', false},
    {U'ゼ', U'セ', false}, {U'ゾ', U'ソ', false}, {U'ダ', U'タ', false}, {U'ヂ', U'チ', false},
    {U'ヅ', U'ツ', false}, {U'デ', U'テ', false}, {U'ド', U'ト', false}, {U'バ', U'ハ', false},
    {U'パ', U'ハ', true},  {U'ビ', U'ヒ', false}, {U'ピ', U'ヒ', true},  {U'ブ', U'フ', false},
    {U'プ', U'フ', true},  {U'ベ', U'ヘ', false}, {U'ペ', U'ヘ', true},  {U'ボ', U'ホ', false},
    {U'ポ', U'ホ', true},  {U'ヴ', U'ウ', false}, {U'ヷ', U'ワ', false}, {U'ヺ', U'ヲ', false},
}};

// Hiragana U+3041..U+3096 lie 0x60 below their katakana twins.
constexpr char32_t KATAKANA_WITH_TWIN_FIRST = U'ァ';
constexpr char32_t KATAKANA_WITH_TWIN_LAST = U'ヶ';
constexpr char32_t HIRAGANA_OFFSET = 0x60;

constexpr bool has_hiragana_twin(char32_t cp) {
    return cp >= KATAKANA_WITH_TWIN_FIRST && cp <= KATAKANA_WITH_TWIN_LAST;
}

// Japanese as written on these modules: hiragana as the katakana, voiced kana as the kana and
// the code of ゛ or ゜, and the combining voicing marks as those codes.
constexpr void add_kana(map_scratch_t& map) {
    const std::size_t listed = map.count;
    for (std::size_t i = 0; i < listed; ++i) {
        const charset_entry_t e = map.entries[i];
        if (e.second == 0 && has_hiragana_twin(e.first)) {
            map.add(e.first - HIRAGANA_OFFSET, 0, e.codes[0], 0, 1);
        }
    }
    const int voiced = map.code_of(U'゛');
    const int semi = map.code_of(U'゜');
    map.ok = map.ok && voiced >= 0 && semi >= 0;
    const auto voiced_code = static_cast<unsigned char>(voiced);
    const auto semi_code = static_cast<unsigned char>(semi);
    for (const voiced_kana_t& k : VOICED_KATAKANA) {
        const int base = map.code_of(k.base);
        map.ok = map.ok && base >= 0;
        const auto base_code = static_cast<unsigned char>(base);
        const unsigned char mark = k.semi ? semi_code : voiced_code;
        map.add(k.composed, 0, base_code, mark, 2);
        if (has_hiragana_twin(k.composed)) {
            map.add(k.composed - HIRAGANA_OFFSET, 0, base_code, mark, 2);
        }
    }
    map.add(0x3099, 0, voiced_code, 0, 1); // combining voiced mark
    map.add(0x309A, 0, semi_code, 0, 1);   // combining semi-voiced mark
}

constexpr map_scratch_t collect_map(std::string_view text, bool kana) {
    map_scratch_t map{{}, 0, true};
    for_each_line(text, [&](const fnt_line_t& line) {
        const int code = header_code(line.body);
        std::string_view rest = code >= 0 ? line.comment : std::string_view{};
        while (!rest.empty()) {
            std::size_t end = 0;
            while (end < rest.size() && !is_blank(rest[end])) {
                ++end;
            }
            if (end > 0) {
                add_word(map, code, rest.substr(0, end));
            }
            rest.remove_prefix(end < rest.size() ? end + 1 : end);
        }
    });
    if (kana) {
        add_kana(map);
    }
    add_decomposed(map);
    std::sort(map.entries.begin(), map.entries.begin() + static_cast<std::ptrdiff_t>(map.count),
              entry_less);
    for (std::size_t i = 1; i < map.count; ++i) {
        map.ok = map.ok && entry_less(map.entries[i - 1], map.entries[i]); // no character twice
    }
    return map;
}

template <std::size_t N> constexpr std::array<charset_entry_t, N> take_map(const map_scratch_t& m) {
    std::array<charset_entry_t, N> entries{};
    std::copy(m.entries.begin(), m.entries.begin() + N, entries.begin());
    return entries;
}

template <std::size_t N>
constexpr std::array<short, 128> make_ascii(const std::array<charset_entry_t, N>& map) {
    std::array<short, 128> ascii{};
    ascii.fill(-1);
    for (const charset_entry_t& e : map) {
        if (e.first < 128 && e.second == 0 && e.code_count == 1) {
            ascii[e.first] = e.codes[0];
        }
    }
    // A character followed by a non-ASCII byte takes the full lookup anyway (it may start a
    // two-code-point character, such as a letter and its combining mark); only pairs of two
    // ASCII characters need it always.
    for (const charset_entry_t& e : map) {
        if (e.first < 128 && e.second != 0 && e.second < 128) {
            ascii[e.first] = -1;
        }
    }
    ascii['\\'] = -1; // starts an escape
    return ascii;
}

constexpr parsed_glyphs_t A00_PARSED = parse_glyphs(A00_FNT);
static_assert(A00_PARSED.ok, "fonts/a00.fnt: every code needs one CODE line and eight rows of "
                             "five '.' or 'o'");
constexpr parsed_glyphs_t A02_PARSED = parse_glyphs(A02_FNT);
static_assert(A02_PARSED.ok, "fonts/a02.fnt: every code needs one CODE line and eight rows of "
                             "five '.' or 'o'");

constexpr map_scratch_t A00_SCRATCH = collect_map(A00_FNT, true);
static_assert(A00_SCRATCH.ok, "fonts/a00.fnt: a character list is malformed or names a "
                              "character twice");
constexpr map_scratch_t A02_SCRATCH = collect_map(A02_FNT, false);
static_assert(A02_SCRATCH.ok, "fonts/a02.fnt: a character list is malformed or names a "
                              "character twice");

constexpr auto A00_MAP = take_map<A00_SCRATCH.count>(A00_SCRATCH);
constexpr auto A02_MAP = take_map<A02_SCRATCH.count>(A02_SCRATCH);
constexpr std::array<short, 128> A00_ASCII = make_ascii(A00_MAP);
constexpr std::array<short, 128> A02_ASCII = make_ascii(A02_MAP);

// ---- Spellings: each code's usual character as UTF-8 ----

using spelling_t = std::array<char, 12>; // two code points of up to four bytes, terminated

constexpr std::size_t utf8_write(char32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    const std::size_t extra = cp < 0x800 ? 1 : (cp < 0x10000 ? 2 : 3);
    constexpr std::array<unsigned, 4> LEAD_MARK{0, 0xC0, 0xE0, 0xF0};
    out[0] = static_cast<char>(LEAD_MARK[extra] | (cp >> (6 * extra)));
    for (std::size_t i = 1; i <= extra; ++i) {
        out[i] = static_cast<char>(0x80U | ((cp >> (6 * (extra - i))) & 0x3FU));
    }
    return extra + 1;
}

// The entry of exactly (first, second) in a sorted map; nullptr when there is none.
template <std::size_t N>
constexpr const charset_entry_t* find_entry(const std::array<charset_entry_t, N>& map,
                                            char32_t first, char32_t second) {
    const charset_entry_t key{first, second, {}, 0};
    const auto* it = std::lower_bound(map.begin(), map.end(), key, entry_less);
    return it != map.end() && it->first == first && it->second == second ? it : nullptr;
}

// The first character listed for each code, kept only where decoding it alone gives that one
// code back. The backslash never: as text it starts an escape.
template <std::size_t N>
constexpr std::array<spelling_t, CHARSET_GLYPH_COUNT>
make_spellings(std::string_view text, const std::array<charset_entry_t, N>& map) {
    std::array<spelling_t, CHARSET_GLYPH_COUNT> out{};
    for_each_line(text, [&](const fnt_line_t& line) {
        const int code = header_code(line.body);
        const word_t w = read_word(first_word(line.comment));
        if (code < 0 || !w.ok || w.cps[0] == U'\\') {
            return;
        }
        const charset_entry_t* e = find_entry(map, w.cps[0], w.cps[1]);
        if (e == nullptr || e->code_count != 1 || e->codes[0] != code) {
            return;
        }
        spelling_t& spelling = out[static_cast<std::size_t>(code)];
        const std::size_t used = utf8_write(w.cps[0], spelling.data());
        if (w.cps[1] != 0) {
            utf8_write(w.cps[1], spelling.data() + used);
        }
    });
    return out;
}

constexpr std::array<spelling_t, CHARSET_GLYPH_COUNT> A00_SPELLINGS =
    make_spellings(A00_FNT, A00_MAP);
constexpr std::array<spelling_t, CHARSET_GLYPH_COUNT> A02_SPELLINGS =
    make_spellings(A02_FNT, A02_MAP);

constexpr std::array<charset_t, 2> SETS{{
    {"A00", &A00_PARSED.glyphs, A00_MAP.data(), A00_MAP.size(), &A00_ASCII},
    {"A02", &A02_PARSED.glyphs, A02_MAP.data(), A02_MAP.size(), &A02_ASCII},
}};

// ---- Decoding a row ----

// Where decoded codes go: stores while there is room, counts every code for the column.
struct row_sink_t {
    unsigned char* dst;
    int room; // codes that still fit before the terminator
    int count;
    int column; // codes decoded so far, also those beyond the room
};

void put_code(row_sink_t* sink, unsigned char code) {
    if (sink->count < sink->room) {
        sink->dst[sink->count] = code;
        ++sink->count;
    }
    if (sink->column < INT_MAX) {
        ++sink->column;
    }
}

// The entry of the character `cp` followed by `next` (0 at the end): a two-code-point entry
// beats a one-code-point one. nullptr when the set does not have it.
const charset_entry_t* lookup(const charset_t* set, char32_t cp, char32_t next) {
    const charset_entry_t* end = set->entries + set->entry_count;
    const charset_entry_t* it =
        std::lower_bound(set->entries, end, cp,
                         [](const charset_entry_t& e, char32_t value) { return e.first < value; });
    const charset_entry_t* single = nullptr;
    for (; it != end && it->first == cp; ++it) {
        if (it->second == 0) {
            single = it;
        } else if (it->second == next) {
            return it;
        }
    }
    return single;
}

// Code points that would not show as themselves between quotes: controls, format characters,
// combining marks, spaces other than U+0020, blank-looking letters (Hangul fillers, the empty
// braille pattern), private use and noncharacters. Sorted, without overlaps.
constexpr std::array<std::array<char32_t, 2>, 35> NOT_GRAPHIC{{
    {0x0000, 0x001F},   {0x007F, 0x00A0},   {0x00AD, 0x00AD},    {0x0300, 0x036F},
    {0x061C, 0x061C},   {0x115F, 0x1160},   {0x1680, 0x1680},    {0x180B, 0x180F},
    {0x1AB0, 0x1AFF},   {0x1DC0, 0x1DFF},   {0x2000, 0x200F},    {0x2028, 0x202F},
    {0x205F, 0x206F},   {0x20D0, 0x20FF},   {0x2800, 0x2800},    {0x3000, 0x3000},
    {0x3099, 0x309A},   {0x3164, 0x3164},   {0xE000, 0xF8FF},    {0xFDD0, 0xFDEF},
    {0xFE00, 0xFE0F},   {0xFE20, 0xFE2F},   {0xFEFF, 0xFEFF},    {0xFFA0, 0xFFA0},
    {0xFFF0, 0xFFFB},   {0xFFFE, 0xFFFF},   {0x1BCA0, 0x1BCA3},  {0x1D173, 0x1D17A},
    {0x1FFFE, 0x1FFFF}, {0x2FFFE, 0x2FFFF}, {0x3FFFE, 0x3FFFF},  {0xDFFFE, 0xDFFFF},
    {0xE0000, 0xE0FFF}, {0xEFFFE, 0xEFFFF}, {0xF0000, 0x10FFFF},
}};

// Code points that attach to the character before them.
constexpr std::array<std::array<char32_t, 2>, 5> COMBINING{{
    {0x0300, 0x036F},
    {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF},
    {0x20D0, 0x20FF},
    {0xFE20, 0xFE2F},
}};

template <std::size_t N>
bool in_ranges(const std::array<std::array<char32_t, 2>, N>& ranges, char32_t cp) {
    return std::any_of(ranges.begin(), ranges.end(),
                       [cp](const auto& range) { return cp >= range[0] && cp <= range[1]; });
}

bool printable(char32_t cp) {
    return !in_ranges(NOT_GRAPHIC, cp);
}

struct message_t {
    char* text;
    int capacity;
};

void say_escape(message_t out, int row, int column) {
    std::snprintf(out.text, static_cast<std::size_t>(out.capacity),
                  "Row %d, column %d: malformed escape (\\xHH with two hexadecimal digits, or "
                  "\\\\).",
                  row, column);
}

void say_not_in_set(message_t out, int row, int column, const charset_t* set, const char* at,
                    utf8_char_t c) {
    if (!printable(c.cp)) {
        std::snprintf(out.text, static_cast<std::size_t>(out.capacity),
                      "Row %d, column %d: U+%04X is not in character set %s.", row, column,
                      static_cast<unsigned>(c.cp), set->name);
        return;
    }
    std::snprintf(out.text, static_cast<std::size_t>(out.capacity),
                  "Row %d, column %d: U+%04X '%.*s' is not in character set %s.", row, column,
                  static_cast<unsigned>(c.cp), c.length, at, set->name);
}

// A letter and the combining mark after it, which the set has neither composed nor apart.
void say_sequence_not_in_set(message_t out, int row, int column, const charset_t* set,
                             const char* at, utf8_char_t c, utf8_char_t mark) {
    if (!printable(c.cp)) {
        std::snprintf(out.text, static_cast<std::size_t>(out.capacity),
                      "Row %d, column %d: U+%04X U+%04X is not in character set %s.", row, column,
                      static_cast<unsigned>(c.cp), static_cast<unsigned>(mark.cp), set->name);
        return;
    }
    std::snprintf(out.text, static_cast<std::size_t>(out.capacity),
                  "Row %d, column %d: U+%04X U+%04X '%.*s' is not in character set %s.", row,
                  column, static_cast<unsigned>(c.cp), static_cast<unsigned>(mark.cp),
                  c.length + mark.length, at, set->name);
}

const char* invalid_kind(int status) {
    switch (status) {
    case CHARSET_STRAY_CONTINUATION:
        return "stray continuation byte";
    case CHARSET_TRUNCATED:
        return "truncated sequence";
    case CHARSET_OVERLONG:
        return "overlong form";
    case CHARSET_SURROGATE:
        return "surrogate";
    case CHARSET_ABOVE_MAX:
        return "above U+10FFFF";
    default:
        return "byte never used in UTF-8";
    }
}

void say_invalid(message_t out, int row, int column, const char* at, utf8_char_t c) {
    std::array<char, 4 * 5 + 1> bytes{}; // " 0xHH" per byte
    int used = 0;
    for (int i = 0; i < c.length; ++i) {
        used += std::snprintf(bytes.data() + used, bytes.size() - static_cast<std::size_t>(used),
                              " 0x%02X", static_cast<unsigned>(static_cast<unsigned char>(at[i])));
    }
    std::snprintf(out.text, static_cast<std::size_t>(out.capacity),
                  "Row %d, column %d: invalid UTF-8 (%s):%s.", row, column, invalid_kind(c.status),
                  bytes.data());
}

// Decodes the character at `at` (not a backslash, not an ASCII character that maps alone);
// returns how many bytes it took, or 0 after writing the refusal to `out`.
int decode_character(const charset_t* set, const char* at, int row, row_sink_t* sink, message_t out,
                     int* status) {
    const utf8_char_t c = utf8_read(at);
    if (c.status != 0) {
        *status = c.status;
        say_invalid(out, row, sink->column + 1, at, c);
        return 0;
    }
    const utf8_char_t next = utf8_read(at + c.length);
    const char32_t next_cp = next.status == 0 ? next.cp : 0;
    const charset_entry_t* e = lookup(set, c.cp, next_cp);
    const bool paired = e != nullptr && e->second != 0;
    if (!paired && in_ranges(COMBINING, next_cp) && lookup(set, next_cp, 0) == nullptr) {
        *status = CHARSET_NOT_IN_SET;
        say_sequence_not_in_set(out, row, sink->column + 1, set, at, c, next);
        return 0;
    }
    if (e == nullptr) {
        *status = CHARSET_NOT_IN_SET;
        say_not_in_set(out, row, sink->column + 1, set, at, c);
        return 0;
    }
    for (int i = 0; i < e->code_count; ++i) {
        put_code(sink, e->codes[static_cast<std::size_t>(i)]);
    }
    return e->second != 0 ? c.length + next.length : c.length;
}

} // namespace

const charset_t* charset_find(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    for (const charset_t& set : SETS) {
        const char* want = set.name;
        std::size_t i = 0;
        for (; want[i] != '\0'; ++i) {
            const char c =
                name[i] >= 'a' && name[i] <= 'z' ? static_cast<char>(name[i] - 32) : name[i];
            if (c != want[i]) {
                break;
            }
        }
        if (want[i] == '\0' && name[i] == '\0') {
            return &set;
        }
    }
    return nullptr;
}

const charset_glyphs_t& charset_glyphs(const charset_t* set) {
    return *set->glyphs;
}

int charset_decode(const charset_t* set, const char* src, int row, unsigned char* dst, int capacity,
                   int* count, char* message, int message_capacity) {
    const message_t out{message, message != nullptr && message_capacity > 0 ? message_capacity : 0};
    if (out.capacity > 0) {
        message[0] = '\0';
    }
    if (set == nullptr) {
        return util_format(src, dst, capacity, count);
    }
    const bool usable = dst != nullptr && capacity > 0;
    row_sink_t sink{dst, usable ? capacity - 1 : 0, 0, 0};
    const int shown_row = row < INT_MAX ? row + 1 : row;
    const std::array<short, 128>& ascii = *set->ascii;
    int status = UTIL_FORMAT_OK;
    std::size_t pos = 0;
    while (src != nullptr && src[pos] != '\0' && status == UTIL_FORMAT_OK) {
        const auto byte = static_cast<unsigned char>(src[pos]);
        const auto after = static_cast<unsigned char>(src[pos + 1]); // the terminator at most
        if (byte < 0x80 && ascii[byte] >= 0 && after < 0x80) {
            put_code(&sink, static_cast<unsigned char>(ascii[byte]));
            ++pos;
        } else if (byte == '\\') {
            unsigned char code = 0;
            int length = 0;
            status = util_decode_escape(src + pos, &code, &length);
            if (status != UTIL_FORMAT_OK) {
                say_escape(out, shown_row, sink.column + 1);
                break;
            }
            put_code(&sink, code);
            pos += static_cast<std::size_t>(length);
        } else {
            pos += static_cast<std::size_t>(
                decode_character(set, src + pos, shown_row, &sink, out, &status));
        }
    }
    if (usable) {
        dst[sink.count] = 0;
    }
    if (count != nullptr) {
        *count = sink.count;
    }
    return status;
}

const char* charset_spell(const charset_t* set, unsigned char code) {
    if (set == &SETS[0]) {
        return A00_SPELLINGS[code].data();
    }
    if (set == &SETS[1]) {
        return A02_SPELLINGS[code].data();
    }
    return "";
}

} // namespace vimbra
