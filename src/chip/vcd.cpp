#include "chip/vcd.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/shown.hpp"

namespace vimbra {

namespace {

constexpr int FIRST_ID_CHAR = 33; // identifier codes are printable ASCII, '!' to '~'
constexpr int ID_CHARS = 94;
constexpr int SHORT_IDS = ID_CHARS + ID_CHARS * ID_CHARS; // codes of one or two characters
constexpr std::size_t MAX_HEADER_WORDS = 64;              // of one $var, $scope or $timescale
constexpr std::int64_t DEFAULT_TICK_PS = 1000;            // no $timescale: 1 ns

struct watch_t {
    int offset; // bit position counted from the right of a value
    int slot;
};

// A scope of the header: its name and its parent, so that signals share their paths.
struct scope_t {
    int parent;            // -1 at the top
    std::uint32_t name_at; // in the reader's names
    std::uint32_t name_size;
    std::uint32_t path_size; // of its dotted path
    std::uint64_t path_hash; // of its dotted path (path_hash below)
};

struct signal_t {
    std::uint32_t last_at = 0; // the reference alone, in the reader's names
    std::uint32_t last_size = 0;
    int scope = -1; // -1 at the top
    int width = 1;
    int msb = 0;
    int lsb = 0;
    bool ranged = false;          // a vector with a [msb:lsb] range
    bool by_path = false;         // its reference is not unique: its name is its dotted path
    int head = 0;                 // the first signal of its identifier code (itself when first)
    int next_alias = -1;          // another signal with the same identifier code
    int alias_tail = -1;          // of a head: the last signal of its code
    int short_index = -1;         // of a one- or two-character code, else -1
    std::vector<watch_t> watches; // of a head: the watched bits of every signal of its code
};

// What a 0 or 1 on a short code does to the watched bits, so that the bulk of a trace needs
// no search: the slots it sets and those of them that follow the value (the rest pad with 0).
struct direct_t {
    std::uint32_t mask = 0;
    std::uint32_t high = 0;
    bool usable = false; // false: an unknown code, aliases or a slot watched twice
};

enum section_t { NONE, SKIP, TIMESCALE, SCOPE, UPSCOPE, VAR, ENDDEFS, VALUES, DUMPOFF };

} // namespace

struct vcd_reader_t {
    vcd_callbacks_t callbacks{};
    int status = VCD_OK;
    std::array<char, VCD_MESSAGE_CAPACITY> message{};
    std::uint32_t line = 1;
    std::size_t column = 0; // bytes of the current line so far
    bool after_cr = false;  // the last byte ended a line with CR: a LF next is no new line
    std::string carry;      // a word cut by the end of a piece
    bool in_body = false;
    section_t section = NONE;
    std::vector<std::string> words; // of the header section being read
    std::vector<scope_t> scopes;
    int scope = -1; // the one being read, -1 at the top
    int depth = 0;
    std::size_t header_bytes = 0; // of the header's words so far
    std::string names;            // every scope's and signal's own name, one after the other
    std::string shown_name;       // the name vcd_signal_name gave last
    std::vector<signal_t> signals;
    std::vector<int> short_ids;   // signal of each one- or two-character code, -1 when none
    std::vector<direct_t> direct; // of each one- or two-character code
    std::unordered_map<std::string, int> long_ids;
    std::int64_t tick_mul = DEFAULT_TICK_PS; // picoseconds = ticks * mul / div
    std::int64_t tick_div = 1;
    bool below_ps = false; // tick_div is not 1: the one case that divides
    std::uint64_t max_ticks = static_cast<std::uint64_t>(INT64_MAX / DEFAULT_TICK_PS);
    // The value of a vector or real change, waiting for its identifier code.
    bool want_id = false;
    bool want_id_ignored = false; // a real or string value: read and dropped
    std::string value;
    // Time and the watched bits.
    bool have_time = false;
    std::uint64_t ticks = 0;
    std::int64_t time_ps = 0;
    std::uint32_t time_line = 1;
    std::uint32_t levels = 0;
    std::uint32_t step_start = 0;
    std::uint32_t assigned = 0;
    std::uint32_t fresh = 0;
    std::uint64_t unknown = 0;
    // Which instants are steps (vcd_report): all ones and all fresh ones by default.
    std::uint32_t report_rises = ~std::uint32_t{0};
    std::uint32_t report_falls = ~std::uint32_t{0};
    std::uint32_t report_fresh = ~std::uint32_t{0};
    // Steps gathered for vcd_batch's callback, in order.
    vcd_steps_fn batch_fn = nullptr;
    std::array<vcd_step_t, VCD_BATCH> batch{};
    std::size_t batched = 0;
};

namespace {

int fail(vcd_reader_t* r, int status, const char* text);

// The steps gathered go to the client. VCD_OK, or VCD_STOPPED.
int deliver(vcd_reader_t* r) {
    const std::size_t count = r->batched;
    r->batched = 0;
    if (count > 0 && r->batch_fn(r->batch.data(), count, r->callbacks.ctx) != 0) {
        return fail(r, VCD_STOPPED, "stopped");
    }
    return r->status;
}

int fail(vcd_reader_t* r, int status, const char* text) {
    // The steps before the fault reach the client first, as they would one by one; it may
    // stop at one of them.
    if (r->status == VCD_OK && status != VCD_STOPPED && r->batched > 0) {
        deliver(r);
    }
    if (r->status == VCD_OK) {
        r->status = status;
        if (status == VCD_NO_MEMORY) {
            std::snprintf(r->message.data(), r->message.size(), "Memory Allocation Error.");
        } else {
            std::snprintf(r->message.data(), r->message.size(), "line %lu: %s",
                          static_cast<unsigned long>(r->line), text);
        }
    }
    return r->status;
}

// The word for a message: control bytes escaped, shortened.
std::string shown(std::string_view word) {
    return shown_text(word, SHOWN_WORD);
}

// The word in quotes, shortened.
std::string quoted(std::string_view word) {
    std::string out(1, '\'');
    out += shown(word);
    out += '\'';
    return out;
}

int malformed(vcd_reader_t* r, const std::string& text) {
    return fail(r, VCD_MALFORMED, text.c_str());
}

int short_id_index(std::string_view id) {
    const auto code = [](char c) { return static_cast<unsigned char>(c) - FIRST_ID_CHAR; };
    if (id.size() == 1 && code(id[0]) >= 0 && code(id[0]) < ID_CHARS) {
        return code(id[0]);
    }
    if (id.size() == 2 && code(id[0]) >= 0 && code(id[0]) < ID_CHARS && code(id[1]) >= 0 &&
        code(id[1]) < ID_CHARS) {
        return ID_CHARS + code(id[0]) * ID_CHARS + code(id[1]);
    }
    return -1;
}

int find_id(const vcd_reader_t* r, std::string_view id) {
    const int index = short_id_index(id);
    if (index >= 0) {
        return r->short_ids[static_cast<std::size_t>(index)];
    }
    const auto it = r->long_ids.find(std::string(id));
    return it == r->long_ids.end() ? -1 : it->second;
}

// Reads "[msb:lsb]" or "[bit]" at the end of `text`; false when there is none.
bool split_range(std::string_view text, std::string_view* base, int* msb, int* lsb) {
    if (text.empty() || text.back() != ']') {
        return false;
    }
    const std::size_t open = text.rfind('[');
    if (open == std::string_view::npos || open == 0) {
        return false;
    }
    std::array<long, 2> bounds{};
    int count = 0;
    std::size_t i = open + 1;
    while (count < 2) {
        long v = 0;
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && v < 1000000) {
            v = v * 10 + (text[i] - '0');
            ++i;
        }
        if (i == start || v >= 1000000) {
            return false;
        }
        bounds[static_cast<std::size_t>(count++)] = v;
        if (text[i] == ']') {
            break;
        }
        if (text[i] != ':') {
            return false;
        }
        ++i;
    }
    if (i != text.size() - 1) {
        return false;
    }
    *base = text.substr(0, open);
    *msb = static_cast<int>(bounds[0]);
    *lsb = static_cast<int>(count == 2 ? bounds[1] : bounds[0]);
    return true;
}

int read_timescale(vcd_reader_t* r) {
    std::string text;
    for (const std::string& w : r->words) {
        text += w;
    }
    std::size_t i = 0;
    std::int64_t number = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && number < 1000) {
        number = number * 10 + (text[i] - '0');
        ++i;
    }
    const std::string unit = text.substr(i);
    static constexpr std::array<std::pair<const char*, std::int64_t>, 5> units{
        {{"s", 1000000000000}, {"ms", 1000000000}, {"us", 1000000}, {"ns", 1000}, {"ps", 1}}};
    if (number != 1 && number != 10 && number != 100) {
        return malformed(r, "$timescale: not 1, 10 or 100 of a unit: " + quoted(text));
    }
    if (unit == "fs") {
        r->tick_mul = number;
        r->tick_div = 1000;
        r->below_ps = true;
        r->max_ticks = static_cast<std::uint64_t>(INT64_MAX / r->tick_mul);
        return VCD_OK;
    }
    for (const auto& [name, ps] : units) {
        if (unit == name) {
            r->tick_mul = number * ps;
            r->tick_div = 1;
            r->below_ps = false;
            r->max_ticks = static_cast<std::uint64_t>(INT64_MAX / r->tick_mul);
            return VCD_OK;
        }
    }
    return malformed(r, "$timescale: unknown unit '" + shown(unit) + "' (s, ms, us, ns, ps, fs)");
}

std::string_view name_at(const vcd_reader_t* r, std::uint32_t at, std::uint32_t size) {
    return std::string_view(r->names).substr(at, size);
}

std::string_view last_of(const vcd_reader_t* r, const signal_t& s) {
    return name_at(r, s.last_at, s.last_size);
}

// FNV-1a, continued over `bytes`: a scope's dotted path hashes as its text would.
std::uint64_t path_hash(std::uint64_t hash, std::string_view bytes) {
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3u;
    }
    return hash;
}
constexpr std::uint64_t HASH_START = 0xCBF29CE484222325u;

// Keeps a name in the reader's names; its place.
std::uint32_t keep_name(vcd_reader_t* r, std::string_view name) {
    const auto at = static_cast<std::uint32_t>(r->names.size());
    r->names.append(name);
    return at;
}

int read_scope(vcd_reader_t* r) {
    if (r->words.size() < 2) {
        return malformed(r, "$scope needs a type and a name");
    }
    if (r->depth >= VCD_MAX_SCOPE_DEPTH) {
        return malformed(r, "scopes nested deeper than " + std::to_string(VCD_MAX_SCOPE_DEPTH));
    }
    const std::string& name = r->words[1];
    scope_t scope{r->scope, keep_name(r, name), static_cast<std::uint32_t>(name.size()),
                  static_cast<std::uint32_t>(name.size()), path_hash(HASH_START, name)};
    if (r->scope >= 0) {
        const scope_t& parent = r->scopes[static_cast<std::size_t>(r->scope)];
        scope.path_size += parent.path_size + 1;
        scope.path_hash = path_hash(path_hash(parent.path_hash, "."), name);
    }
    r->scopes.push_back(scope);
    r->scope = static_cast<int>(r->scopes.size()) - 1;
    ++r->depth;
    return VCD_OK;
}

void read_upscope(vcd_reader_t* r) {
    if (r->scope >= 0) {
        r->scope = r->scopes[static_cast<std::size_t>(r->scope)].parent;
        --r->depth;
    }
}

int read_var(vcd_reader_t* r) {
    const std::vector<std::string>& w = r->words;
    if (w.size() < 4) {
        return malformed(r, "$var needs a type, a width, a code and a name");
    }
    if (r->signals.size() >= static_cast<std::size_t>(VCD_MAX_SIGNALS)) {
        return malformed(r, "more than " + std::to_string(VCD_MAX_SIGNALS) + " signals");
    }
    signal_t s;
    long width = 0;
    for (char c : w[1]) {
        if (c < '0' || c > '9' || width > 1000000) {
            return malformed(r, "$var " + shown(w[3]) + ": bad width " + quoted(w[1]));
        }
        width = width * 10 + (c - '0');
    }
    if (width < 1 || width > 1000000) {
        return malformed(r, "$var " + shown(w[3]) + ": bad width " + quoted(w[1]));
    }
    s.width = static_cast<int>(width);
    std::string reference;
    for (std::size_t i = 3; i < w.size(); ++i) {
        reference += w[i];
    }
    std::string_view base;
    int msb = 0;
    int lsb = 0;
    std::string_view last = reference; // a scalar keeps "data[2]" as its name
    if (split_range(reference, &base, &msb, &lsb) && s.width > 1) {
        if (std::abs(msb - lsb) + 1 != s.width) {
            return malformed(r, "$var " + shown(reference) + ": the range does not match width " +
                                    std::to_string(s.width));
        }
        last = base;
        s.msb = msb;
        s.lsb = lsb;
        s.ranged = true;
    } else {
        s.msb = s.width - 1;
        s.lsb = 0;
        s.ranged = s.width > 1;
    }
    s.last_at = keep_name(r, last);
    s.last_size = static_cast<std::uint32_t>(last.size());
    s.scope = r->scope;
    const std::string& id = w[2];
    const int index = static_cast<int>(r->signals.size());
    const int existing = find_id(r, id);
    if (existing >= 0) { // the same wires seen from another scope
        if (const int slot = short_id_index(id); slot >= 0) {
            r->direct[static_cast<std::size_t>(slot)].usable = false;
        }
        signal_t& head = r->signals[static_cast<std::size_t>(existing)];
        r->signals[static_cast<std::size_t>(head.alias_tail)].next_alias = index;
        head.alias_tail = index;
        s.head = existing;
    } else {
        s.head = index;
        s.alias_tail = index;
        if (const int slot = short_id_index(id); slot >= 0) {
            r->short_ids[static_cast<std::size_t>(slot)] = index;
            r->direct[static_cast<std::size_t>(slot)] = direct_t{0, 0, true};
            s.short_index = slot;
        } else {
            r->long_ids.emplace(id, index);
        }
    }
    r->signals.push_back(std::move(s));
    return VCD_OK;
}

// A signal whose reference another shares is named by its dotted path.
void name_signals(vcd_reader_t* r) {
    std::unordered_map<std::string_view, int> uses;
    uses.reserve(r->signals.size());
    for (const signal_t& s : r->signals) {
        ++uses[last_of(r, s)];
    }
    for (signal_t& s : r->signals) {
        s.by_path = uses[last_of(r, s)] > 1;
    }
}

// True when `wanted` is the signal's dotted path; `prefix_hash` holds the hash of each of
// wanted's beginnings (path_hash of its first k bytes at k), so that most paths are told
// apart without a walk up their scopes.
bool path_is(const vcd_reader_t* r, const signal_t& s, std::string_view wanted,
             const std::vector<std::uint64_t>& prefix_hash) {
    const std::string_view last = last_of(r, s);
    if (s.scope < 0) {
        return wanted == last;
    }
    const scope_t* scope = &r->scopes[static_cast<std::size_t>(s.scope)];
    const std::size_t k = scope->path_size;
    if (wanted.size() != k + 1 + last.size() || prefix_hash[k] != scope->path_hash ||
        wanted[k] != '.' || wanted.substr(k + 1) != last) {
        return false;
    }
    std::string_view rest = wanted.substr(0, k);
    for (int at = s.scope; at >= 0; at = r->scopes[static_cast<std::size_t>(at)].parent) {
        scope = &r->scopes[static_cast<std::size_t>(at)];
        const std::string_view name = name_at(r, scope->name_at, scope->name_size);
        if (rest.size() < name.size() || rest.substr(rest.size() - name.size()) != name) {
            return false;
        }
        rest.remove_suffix(name.size());
        if (scope->parent >= 0) {
            if (rest.empty() || rest.back() != '.') {
                return false;
            }
            rest.remove_suffix(1);
        }
    }
    return rest.empty();
}

// True when the signal is called `wanted`: its name, or its dotted path.
bool called(const vcd_reader_t* r, const signal_t& s, std::string_view wanted,
            const std::vector<std::uint64_t>& prefix_hash) {
    return (!s.by_path && wanted == last_of(r, s)) || path_is(r, s, wanted, prefix_hash);
}

// The end of a header section.
int end_section(vcd_reader_t* r) {
    int status = VCD_OK;
    switch (r->section) {
    case TIMESCALE:
        status = read_timescale(r);
        break;
    case SCOPE:
        status = read_scope(r);
        break;
    case UPSCOPE:
        read_upscope(r);
        break;
    case VAR:
        status = read_var(r);
        break;
    case ENDDEFS:
        name_signals(r);
        r->in_body = true;
        r->section = NONE;
        if (r->callbacks.header != nullptr && r->callbacks.header(r, r->callbacks.ctx) != 0) {
            return fail(r, VCD_STOPPED, "stopped");
        }
        return r->status;
    default:
        break;
    }
    r->section = NONE;
    r->words.clear();
    return status;
}

// The keywords of a dump; an identifier code may begin with '$' too.
bool is_keyword(std::string_view word) {
    static constexpr std::array<std::string_view, 12> KEYWORDS{
        "$comment", "$date",    "$enddefinitions", "$scope",   "$timescale", "$upscope",
        "$var",     "$version", "$dumpall",        "$dumpoff", "$dumpon",    "$dumpvars"};
    return std::find(KEYWORDS.begin(), KEYWORDS.end(), word) != KEYWORDS.end();
}

const char* section_keyword(section_t section) {
    switch (section) {
    case TIMESCALE:
        return "$timescale";
    case SCOPE:
        return "$scope";
    case UPSCOPE:
        return "$upscope";
    case VAR:
        return "$var";
    default:
        return "$enddefinitions";
    }
}

int header_word(vcd_reader_t* r, std::string_view word) {
    r->header_bytes += word.size() + 1;
    if (r->header_bytes > VCD_MAX_HEADER_BYTES) {
        return malformed(r, "a header of more than " + std::to_string(VCD_MAX_HEADER_BYTES >> 20) +
                                " MiB");
    }
    if (word == "$end") {
        if (r->section == NONE) {
            return malformed(r, "$end without a section");
        }
        return end_section(r);
    }
    if (r->section == SKIP) {
        return VCD_OK;
    }
    if (r->section != NONE) {
        if (r->words.size() >= MAX_HEADER_WORDS) {
            return malformed(r, "a section without $end");
        }
        // A keyword inside a definition: its $end is missing ("$var wire 1 ! rs $upscope").
        if (is_keyword(word)) {
            return malformed(r, section_keyword(r->section) + std::string(": ") + quoted(word) +
                                    " before $end");
        }
        r->words.emplace_back(word);
        return VCD_OK;
    }
    if (word[0] != '$') {
        return malformed(r, quoted(word) + " in the header, where a $ keyword belongs");
    }
    r->section = word == "$timescale"        ? TIMESCALE
                 : word == "$scope"          ? SCOPE
                 : word == "$upscope"        ? UPSCOPE
                 : word == "$var"            ? VAR
                 : word == "$enddefinitions" ? ENDDEFS
                                             : SKIP; // $date, $version, $comment and others
    return VCD_OK;
}

// Whether an instant that ends with `levels` is a step for the client.
bool step_wanted(const vcd_reader_t* r, std::uint32_t changed, std::uint32_t levels,
                 std::uint32_t fresh) {
    const std::uint32_t edges = (levels & r->report_rises) | (~levels & r->report_falls);
    return ((changed & edges) | (fresh & r->report_fresh)) != 0;
}

// Gives a step, or gathers it.
int give_step(vcd_reader_t* r, const vcd_step_t& step) {
    if (r->batch_fn != nullptr) {
        r->batch[r->batched++] = step;
        return r->batched == r->batch.size() ? deliver(r) : VCD_OK;
    }
    if (r->callbacks.step != nullptr && r->callbacks.step(&step, r->callbacks.ctx) != 0) {
        return fail(r, VCD_STOPPED, "stopped");
    }
    return VCD_OK;
}

int flush_step(vcd_reader_t* r) {
    const std::uint32_t changed = r->levels ^ r->step_start;
    if (step_wanted(r, changed, r->levels, r->fresh)) {
        const vcd_step_t step{r->time_ps, r->time_line, changed,
                              r->levels,  r->fresh,     r->step_start};
        if (give_step(r, step) != VCD_OK) {
            return fail(r, VCD_STOPPED, "stopped");
        }
    }
    r->step_start = r->levels;
    r->fresh = 0;
    return VCD_OK;
}

// Ticks, at most max_ticks, in picoseconds.
std::int64_t ticks_to_ps(const vcd_reader_t* r, std::uint64_t ticks) {
    const auto signed_ticks = static_cast<std::int64_t>(ticks);
    return r->below_ps ? signed_ticks * r->tick_mul / r->tick_div : signed_ticks * r->tick_mul;
}

// A time stamp read as `ticks`, neither before the last nor beyond max_ticks.
int advance_time(vcd_reader_t* r, std::uint64_t ticks) {
    const std::int64_t ps = ticks_to_ps(r, ticks);
    if (ps != r->time_ps && flush_step(r) != VCD_OK) { // values before any stamp are at 0
        return r->status;
    }
    r->have_time = true;
    r->ticks = ticks;
    r->time_line = r->line;
    r->time_ps = ps;
    return VCD_OK;
}

// A time stamp read as `ticks`, at most INT64_MAX.
int set_time(vcd_reader_t* r, std::uint64_t ticks) {
    if (r->have_time && ticks < r->ticks) {
        return malformed(r, "time goes backwards: #" + std::to_string(ticks) + " after #" +
                                std::to_string(r->ticks));
    }
    if (ticks > r->max_ticks) {
        return malformed(r, "time #" + std::to_string(ticks) +
                                " is beyond 2^63 picoseconds (about 106 days)");
    }
    return advance_time(r, ticks);
}

int read_time(vcd_reader_t* r, std::string_view word) {
    std::uint64_t ticks = 0;
    if (word.size() < 2) {
        return malformed(r, "a time stamp without digits");
    }
    for (std::size_t i = 1; i < word.size(); ++i) {
        const char c = word[i];
        if (c < '0' || c > '9') {
            return malformed(r, "bad time stamp " + quoted(word));
        }
        constexpr std::uint64_t TENTH = static_cast<std::uint64_t>(INT64_MAX) / 10;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (ticks >= TENTH &&
            (ticks > TENTH || digit > static_cast<std::uint64_t>(INT64_MAX) % 10)) {
            return malformed(r, "time stamp beyond 2^63: " + quoted(word));
        }
        ticks = ticks * 10 + digit;
    }
    return set_time(r, ticks);
}

bool is_value_char(char c) {
    return c == '0' || c == '1' || c == 'x' || c == 'X' || c == 'z' || c == 'Z';
}

void set_slot(vcd_reader_t* r, int slot, char c) {
    const std::uint32_t bit = std::uint32_t{1} << slot;
    if (c != '0' && c != '1') {
        ++r->unknown;
    }
    r->fresh |= bit & ~r->assigned;
    r->assigned |= bit;
    r->levels = c == '1' ? (r->levels | bit) : (r->levels & ~bit);
}

// A value for the signals of identifier code `id`, the rightmost character its bit 0.
int apply_value(vcd_reader_t* r, std::string_view value, std::string_view id, bool ignored) {
    const int first = find_id(r, id);
    if (first < 0) {
        return malformed(r, "unknown identifier code " + quoted(id));
    }
    if (ignored || r->section == DUMPOFF) {
        return VCD_OK;
    }
    const std::vector<watch_t>& watches = r->signals[static_cast<std::size_t>(first)].watches;
    if (value.size() == 1) {
        for (const watch_t& w : watches) {
            set_slot(r, w.slot, w.offset == 0 ? value[0] : (value[0] == '1' ? '0' : value[0]));
        }
        return VCD_OK;
    }
    const char pad = value[0] == '1' ? '0' : value[0]; // x and z extend, 0 and 1 pad with 0
    for (const watch_t& w : watches) {
        const auto offset = static_cast<std::size_t>(w.offset);
        set_slot(r, w.slot, offset < value.size() ? value[value.size() - 1 - offset] : pad);
    }
    return VCD_OK;
}

int body_word(vcd_reader_t* r, std::string_view word) {
    if (r->section == SKIP) {
        if (word == "$end") {
            r->section = NONE;
        }
        return VCD_OK;
    }
    if (r->want_id) {
        r->want_id = false;
        return apply_value(r, r->value, word, r->want_id_ignored);
    }
    const char c = word[0];
    if (is_value_char(c)) {
        if (word.size() < 2) {
            return malformed(r, "value '" + shown(word) + "' without an identifier code");
        }
        return apply_value(r, word.substr(0, 1), word.substr(1), false);
    }
    switch (c) {
    case '#':
        return read_time(r, word);
    case 'b':
    case 'B':
        if (word.size() < 2 || !std::all_of(word.begin() + 1, word.end(), is_value_char)) {
            return malformed(r, "bad vector value " + quoted(word));
        }
        r->value.assign(word.substr(1));
        r->want_id = true;
        r->want_id_ignored = false;
        return VCD_OK;
    case 'r':
    case 'R':
    case 's':
    case 'S':
        r->want_id = true;
        r->want_id_ignored = true;
        return VCD_OK;
    case '$':
        if (word == "$end") {
            r->section = NONE;
        } else if (word == "$dumpvars" || word == "$dumpall" || word == "$dumpon") {
            r->section = VALUES;
        } else if (word == "$dumpoff") {
            r->section = DUMPOFF; // its x values say nothing about the wires
        } else {
            r->section = SKIP; // $comment and the like
        }
        return VCD_OK;
    default:
        return malformed(r, "unexpected " + quoted(word));
    }
}

int take_word(vcd_reader_t* r, std::string_view word) {
    try {
        return r->in_body ? body_word(r, word) : header_word(r, word);
    } catch (const std::bad_alloc&) {
        return fail(r, VCD_NO_MEMORY, "");
    }
}

constexpr std::array<bool, 256> BLANKS = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'}) {
        table[c] = true;
    }
    return table;
}();

bool is_blank(char c) {
    return BLANKS[static_cast<unsigned char>(c)];
}

// The most digits a time stamp may have to be read without an overflow check.
constexpr std::ptrdiff_t SAFE_DIGITS = 18;

// The word at `p`, ended by a blank before `end`, when it is a value character and a code
// of one or two characters: the code's index in `index` and the word's end, else nullptr.
const char* short_change(const char* p, const char* end, std::size_t* index) {
    if (end - p < 3) {
        return nullptr;
    }
    const auto first = static_cast<unsigned>(static_cast<unsigned char>(p[1])) - FIRST_ID_CHAR;
    if (first >= ID_CHARS) {
        return nullptr;
    }
    if (is_blank(p[2])) {
        *index = first;
        return p + 2;
    }
    const auto second = static_cast<unsigned>(static_cast<unsigned char>(p[2])) - FIRST_ID_CHAR;
    if (second >= ID_CHARS || end - p < 4 || !is_blank(p[3])) {
        return nullptr;
    }
    *index = ID_CHARS + first * ID_CHARS + second;
    return p + 3;
}

constexpr std::uint64_t bytes_of(unsigned char c) {
    return 0x0101010101010101u * c;
}

// Eight bytes as a little-endian number, whatever the machine.
std::uint64_t load8(const char* p) {
    std::uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&v, p, sizeof v);
    } else {
        for (int i = 7; i >= 0; --i) {
            v = v << 8 | static_cast<unsigned char>(p[i]);
        }
    }
    return v;
}

// How many of the eight bytes, from the first, are decimal digits.
// Of eight bytes, those that are not decimal digits have bits set (where a byte that is one
// lies after one that is not, perhaps not).
std::uint64_t not_digits(std::uint64_t v) {
    // A byte is a digit when its high half is 3 and stays 3 after adding 6. A carry out of a
    // byte of F0 or more only spoils bytes after it.
    const std::uint64_t high = bytes_of(0xF0);
    return ((v & high) ^ bytes_of(0x30)) | (((v + bytes_of(0x06)) & high) ^ bytes_of(0x30));
}

unsigned leading_digits(std::uint64_t v) {
    return static_cast<unsigned>(std::countr_zero(not_digits(v))) / 8; // 64 / 8 when all are
}

// The value of eight digit bytes, the first the most significant.
std::uint64_t eight_digits(std::uint64_t v) {
    v -= bytes_of('0');
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFu;                          // pairs
    v = (v * (1 + (std::uint64_t{100} << 16)) >> 16) & 0x0000FFFF0000FFFFu; // fours
    return v * (1 + (std::uint64_t{10000} << 32)) >> 32;
}

constexpr std::array<std::uint64_t, 9> POWERS_OF_TEN{1,      10,      100,      1000,     10000,
                                                     100000, 1000000, 10000000, 100000000};

// The first `n` (0 to 8) of eight digit bytes, '0's put before them, so that eight_digits
// reads them as a number.
std::uint64_t first_digits(std::uint64_t v, unsigned n) {
    if (n == 0) {
        return bytes_of('0');
    }
    return n == 8 ? v : (v << (8 * (8 - n))) | (bytes_of('0') >> (8 * n));
}

// The word at `p`, ended by a blank before `end`, when it is a time stamp of 1 to
// SAFE_DIGITS digits: its value in `ticks` and the word's end, else nullptr.
const char* direct_time(const char* p, const char* end, std::uint64_t* ticks) {
    const char* q = p + 1;
    std::uint64_t value = 0;
    if (end - q >= 16) {
        // Two words of eight bytes, read side by side: most stamps have up to 16 digits.
        const std::uint64_t high = load8(q);
        const std::uint64_t low = load8(q + 8);
        const unsigned high_digits = leading_digits(high);
        const unsigned low_digits = high_digits == 8 ? leading_digits(low) : 0;
        if (low_digits < 8) {
            value = eight_digits(first_digits(high, high_digits)) * POWERS_OF_TEN[low_digits] +
                    eight_digits(first_digits(low, low_digits));
            q += high_digits + low_digits;
        }
    }
    if (q == p + 1) { // near the end of the piece, or a long number
        while (q < end && q - p <= SAFE_DIGITS) {
            const auto digit = static_cast<unsigned>(static_cast<unsigned char>(*q)) - '0';
            if (digit > 9) {
                break;
            }
            value = value * 10 + digit;
            ++q;
        }
    }
    if (q == p + 1 || q - p > SAFE_DIGITS + 1 || q == end || !is_blank(*q)) {
        return nullptr;
    }
    *ticks = value;
    return q;
}

std::uint64_t byte_swap(std::uint64_t v) {
#if defined(__GNUC__)
    return __builtin_bswap64(v);
#else
    v = ((v & 0x00FF00FF00FF00FFu) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFu);
    v = ((v & 0x0000FFFF0000FFFFu) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFu);
    return (v << 32) | (v >> 32);
#endif
}

// The first `n` (0 to 8) bytes of a little-endian word, the first the most significant and
// the rest 0, so that digit strings of one length compare as numbers.
[[gnu::always_inline]] inline std::uint64_t ordered(std::uint64_t v, unsigned n) {
    return n == 0 ? 0 : byte_swap(n == 8 ? v : v & ((std::uint64_t{1} << (8 * n)) - 1));
}

// The digits of a time stamp of 1 to 15 digits with no leading zero, in an order that is the
// numbers': fewer digits first, then the digits as text. Most stamps only need to come after
// the last, which this tells without working out their value.
struct stamp_key_t {
    unsigned digits; // 0: none
    std::uint64_t high;
    std::uint64_t low;
};

[[gnu::always_inline]] inline bool operator<(const stamp_key_t& a, const stamp_key_t& b) {
    if (a.digits != b.digits) {
        return a.digits < b.digits;
    }
    return a.high != b.high ? a.high < b.high : a.low < b.low;
}

[[gnu::always_inline]] inline bool operator==(const stamp_key_t& a, const stamp_key_t& b) {
    return a.digits == b.digits && a.high == b.high && a.low == b.low;
}

[[gnu::always_inline]] inline std::uint64_t key_value(const stamp_key_t& k) {
    const unsigned high = k.digits < 8 ? k.digits : 8;
    const unsigned low = k.digits - high;
    return eight_digits(first_digits(byte_swap(k.high), high)) * POWERS_OF_TEN[low] +
           eight_digits(first_digits(byte_swap(k.low), low));
}

// The most digits whose every number is at most max_ticks, up to 15.
unsigned safe_stamp_digits(std::uint64_t max_ticks) {
    unsigned digits = 0;
    std::uint64_t largest = 9;
    while (digits < 15 && largest <= max_ticks) {
        ++digits;
        largest = largest * 10 + 9;
    }
    return digits;
}

// What direct_run keeps in registers.
struct run_t {
    std::uint32_t levels;
    std::uint32_t fresh;
    std::uint32_t assigned;
    std::uint32_t step_start;
    std::uint32_t line;
    std::uint32_t time_line;
    std::size_t column;
    std::uint64_t ticks;
    std::int64_t time_ps;
    stamp_key_t key; // the last stamp's, when it was read by its digits
    bool unsettled;  // ticks and time_ps are still the key's to work out
    // The bytes of the key's digits in two words of eight, as loaded.
    std::uint64_t high_mask;
    std::uint64_t low_mask;
};

// A new key, with its masks when its length is new.
[[gnu::always_inline]] inline void run_key(run_t* run, const stamp_key_t& key) {
    if (key.digits != run->key.digits) {
        const auto first = [](unsigned n) {
            return n >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1;
        };
        run->high_mask = first(key.digits);
        run->low_mask = key.digits > 8 ? first(key.digits - 8) : 0;
    }
    run->key = key;
}

[[gnu::always_inline]] inline void run_settle(run_t* run, std::int64_t tick_ps) {
    if (run->unsettled) {
        run->ticks = key_value(run->key);
        run->time_ps = static_cast<std::int64_t>(run->ticks) * tick_ps;
        run->unsettled = false;
    }
}

[[gnu::always_inline]] inline void run_sync(vcd_reader_t* r, run_t* run) {
    run_settle(run, r->tick_mul);
    r->levels = run->levels;
    r->fresh = run->fresh;
    r->assigned = run->assigned;
    r->step_start = run->step_start;
    r->line = run->line;
    r->column = run->column;
    r->ticks = run->ticks;
    r->time_ps = run->time_ps;
    r->time_line = run->time_line;
    r->have_time = r->have_time || run->key.digits != 0;
}

// The instant before a new stamp ends: a step when the client wants it. VCD_OK, or stopped.
[[gnu::always_inline]] inline int run_end_instant(vcd_reader_t* r, run_t* run) {
    const std::uint32_t changed = run->levels ^ run->step_start;
    if (step_wanted(r, changed, run->levels, run->fresh)) {
        if (r->batch_fn != nullptr && r->batched + 1 < r->batch.size()) {
            run_settle(run, r->tick_mul);
            r->batch[r->batched++] = vcd_step_t{run->time_ps, run->time_line, changed,
                                                run->levels,  run->fresh,     run->step_start};
        } else {
            run_sync(r, run);
            if (flush_step(r) != VCD_OK) {
                return r->status;
            }
        }
    }
    run->step_start = run->levels;
    run->fresh = 0;
    return VCD_OK;
}

[[gnu::always_inline]] inline void run_apply(run_t* run, const direct_t& d, char value) {
    // Slots get their first value early in a trace: later, fresh and assigned stay as they are.
    if ((d.mask & ~run->assigned) != 0) {
        run->fresh |= d.mask & ~run->assigned;
        run->assigned |= d.mask;
    }
    run->levels = (run->levels & ~d.mask) | (value == '1' ? d.high : 0);
}

[[gnu::always_inline]] inline stamp_key_t stamp_key(std::uint64_t high, std::uint64_t low,
                                                    unsigned digits) {
    const unsigned high_digits = digits < 8 ? digits : 8;
    return stamp_key_t{digits, ordered(high, high_digits), ordered(low, digits - high_digits)};
}

// A stamp read by its digits: VCD_OK when it is the instant's or a later one, VCD_MALFORMED
// when it goes back (for the general reading to refuse), or VCD_STOPPED.
[[gnu::always_inline]] inline int run_stamp(vcd_reader_t* r, run_t* run, const stamp_key_t& key) {
    if (run->key < key) {
        if (run_end_instant(r, run) != VCD_OK) {
            return VCD_STOPPED;
        }
        run->unsettled = true;
    } else if (!(run->key == key)) {
        return VCD_MALFORMED;
    }
    run_key(run, key);
    return VCD_OK;
}

// The same for the first stamp of a run, which only the last stamp's value can be told from.
int run_first_stamp(vcd_reader_t* r, run_t* run, const stamp_key_t& key) {
    run_settle(run, r->tick_mul);
    const std::uint64_t ticks = key_value(key);
    if (ticks < run->ticks) {
        return VCD_MALFORMED;
    }
    if (ticks != run->ticks) {
        if (run_end_instant(r, run) != VCD_OK) {
            return VCD_STOPPED;
        }
        run->unsettled = true;
    }
    run_key(run, key);
    return VCD_OK;
}

// Reads the bulk of a body, scalar changes of short codes with a known effect, time stamps and
// line ends, from `p` while it can, with the watched bits in registers. Where it stops, the
// general reading goes on. Only between sections or in $dumpvars and the like, with no word
// cut by the last piece and no value waiting for its code.
[[gnu::noinline]] const char* direct_run(vcd_reader_t* r, const char* p, const char* end) {
    const direct_t* const direct = r->direct.data();
    run_t run{r->levels, r->fresh, r->assigned, r->step_start, r->line, r->time_line,
              r->column, r->ticks, r->time_ps,  stamp_key_t{}, false,   0,
              0};
    // Stamps read by their digits alone where ticks and picoseconds are one to one.
    const unsigned safe_digits = r->below_ps ? 0 : safe_stamp_digits(r->max_ticks);
    // Whole lines of the forms below are read from whole words while this many bytes are
    // left: a line and the word after it. A line start needs no column.
    constexpr std::ptrdiff_t WORDS = 24;
    while (p < end) {
        while (run.column == 0 && end - p >= WORDS) {
            const std::uint64_t word = load8(p);
            const char c = static_cast<char>(word & 0xFF);
            const auto first = static_cast<unsigned>(word >> 8 & 0xFF) - FIRST_ID_CHAR;
            // "0!" or "1!"
            if ((word & 0xFF00FE) == 0x0A0030 && first < ID_CHARS && direct[first].usable) {
                run_apply(&run, direct[first], c);
                ++run.line;
                p += 3;
                continue;
            }
            if (c != '#') {
                break;
            }
            // "#123" of up to 15 digits, no leading zero and no overflow
            const std::uint64_t high = load8(p + 1);
            const std::uint64_t low = load8(p + 9);
            // Most stamps have as many digits as the last and end their line: then the next
            // line's place is known before the digits are looked at.
            const std::uint64_t high_digits = high & run.high_mask;
            const std::uint64_t low_digits = low & run.low_mask;
            if (const unsigned last = run.key.digits;
                last != 0 && p[1 + last] == '\n' && (last == 1 || p[1] != '0') &&
                ((not_digits(high) & run.high_mask) | (not_digits(low) & run.low_mask)) == 0) {
                const int taken = run_stamp(
                    r, &run, stamp_key_t{last, byte_swap(high_digits), byte_swap(low_digits)});
                if (taken != VCD_OK) {
                    if (taken == VCD_STOPPED) {
                        return p;
                    }
                    break;
                }
                run.time_line = run.line;
                p += 2 + last;
                ++run.line;
                continue;
            }
            const unsigned high_count = leading_digits(high);
            const unsigned digits = high_count + (high_count == 8 ? leading_digits(low) : 0);
            if (digits == 0 || digits > safe_digits || p[1 + digits] != '\n' ||
                (digits > 1 && p[1] == '0')) {
                break;
            }
            const int taken = run.key.digits == 0
                                  ? run_first_stamp(r, &run, stamp_key(high, low, digits))
                                  : run_stamp(r, &run, stamp_key(high, low, digits));
            if (taken != VCD_OK) {
                if (taken == VCD_STOPPED) {
                    return p;
                }
                break;
            }
            run.time_line = run.line;
            p += 2 + digits;
            ++run.line;
        }
        if (p >= end) {
            break;
        }
        const char c = *p;
        if (c == '\n') {
            ++run.line;
            run.column = 0;
            ++p;
        } else if (c == '0' || c == '1') {
            std::size_t index = 0;
            const char* q = short_change(p, end, &index);
            if (q == nullptr || !direct[index].usable ||
                run.column + static_cast<std::size_t>(q - p) > VCD_MAX_LINE) {
                break;
            }
            run_apply(&run, direct[index], c);
            run.column += static_cast<std::size_t>(q - p);
            p = q;
            if (*p == '\n') { // the blank after the word, before `end`
                ++run.line;
                run.column = 0;
                ++p;
            }
        } else if (c == '#') {
            run_settle(&run, r->tick_mul);
            std::uint64_t ticks = 0;
            const char* q = direct_time(p, end, &ticks);
            // A stamp that goes back or too far is refused by the general reading.
            if (q == nullptr || ticks < run.ticks || ticks > r->max_ticks ||
                run.column + static_cast<std::size_t>(q - p) > VCD_MAX_LINE) {
                break;
            }
            const std::uint32_t stamp_line = run.line;
            run.column += static_cast<std::size_t>(q - p);
            p = q;
            if (*p == '\n') {
                ++run.line;
                run.column = 0;
                ++p;
            }
            const std::int64_t ps = ticks_to_ps(r, ticks);
            if (ps != run.time_ps && run_end_instant(r, &run) != VCD_OK) {
                return p;
            }
            r->have_time = true;
            run.key = stamp_key_t{};
            run.ticks = ticks;
            run.time_line = stamp_line;
            run.time_ps = ps;
        } else {
            break;
        }
    }
    run_sync(r, &run);
    return p;
}

} // namespace

vcd_reader_t* vcd_open(const vcd_callbacks_t* callbacks) {
    auto* r = new (std::nothrow) vcd_reader_t;
    if (r == nullptr) {
        return nullptr;
    }
    try {
        r->short_ids.assign(SHORT_IDS, -1);
        r->direct.assign(SHORT_IDS, direct_t{});
        r->carry.reserve(64);
    } catch (const std::bad_alloc&) {
        delete r;
        return nullptr;
    }
    r->callbacks = *callbacks;
    return r;
}

void vcd_close(vcd_reader_t* reader) {
    delete reader;
}

namespace {

int feed(vcd_reader_t* r, const char* data, std::size_t length) {
    const char* const end = data + length;
    const char* p = data;
    while (p < end && r->status == VCD_OK) {
        const char c = *p;
        if (is_blank(c)) {
            if (!r->carry.empty()) {
                const std::string word = std::move(r->carry);
                r->carry.clear();
                if (take_word(r, word) != VCD_OK) {
                    break;
                }
            }
            // LF, CR LF and CR alone each end a line.
            if (c == '\n' || c == '\r') {
                r->line += c == '\r' || !r->after_cr ? 1 : 0;
                r->column = 0;
            } else if (++r->column > VCD_MAX_LINE) {
                return malformed(r, "longer than " + std::to_string(VCD_MAX_LINE) + " bytes");
            }
            r->after_cr = c == '\r';
            ++p;
            continue;
        }
        r->after_cr = false;
        if (r->carry.empty() && r->in_body && !r->want_id &&
            (r->section == NONE || r->section == VALUES)) {
            const char* q = direct_run(r, p, end);
            if (q != p || r->status != VCD_OK) { // a client may stop before anything is read
                p = q;
                continue;
            }
        }
        const char* q = p;
        while (q < end && !is_blank(*q)) {
            ++q;
        }
        r->column += static_cast<std::size_t>(q - p);
        if (r->column > VCD_MAX_LINE) {
            return malformed(r, "longer than " + std::to_string(VCD_MAX_LINE) + " bytes");
        }
        if (q == end || !r->carry.empty()) {
            try {
                r->carry.append(p, static_cast<std::size_t>(q - p));
            } catch (const std::bad_alloc&) {
                return fail(r, VCD_NO_MEMORY, "");
            }
            if (q == end) {
                break;
            }
            const std::string word = std::move(r->carry);
            r->carry.clear();
            take_word(r, word);
        } else {
            take_word(r, std::string_view(p, static_cast<std::size_t>(q - p)));
        }
        p = q;
    }
    return r->status;
}

} // namespace

int vcd_feed(vcd_reader_t* r, const char* data, std::size_t length) {
    const int status = feed(r, data, length);
    return status == VCD_OK ? deliver(r) : status;
}

int vcd_finish(vcd_reader_t* r) {
    if (r->status == VCD_OK && !r->carry.empty()) {
        const std::string word = std::move(r->carry);
        r->carry.clear();
        take_word(r, word);
    }
    if (r->status != VCD_OK) {
        return r->status;
    }
    if (!r->in_body) {
        return malformed(r, "the header ends without $enddefinitions");
    }
    if (r->want_id) {
        return malformed(r, "a value without its identifier code");
    }
    if (r->section == SKIP || r->section == VALUES || r->section == DUMPOFF) {
        return malformed(r, "a section without $end");
    }
    return flush_step(r) == VCD_OK ? deliver(r) : r->status;
}

const char* vcd_message(const vcd_reader_t* reader) {
    return reader->message.data();
}

int vcd_signal_count(const vcd_reader_t* reader) {
    return static_cast<int>(reader->signals.size());
}

std::size_t vcd_signal_name_size(const vcd_reader_t* reader, int signal) {
    if (signal < 0 || signal >= vcd_signal_count(reader)) {
        return 0;
    }
    const signal_t& s = reader->signals[static_cast<std::size_t>(signal)];
    return !s.by_path || s.scope < 0
               ? s.last_size
               : reader->scopes[static_cast<std::size_t>(s.scope)].path_size + 1 + s.last_size;
}

std::string_view vcd_signal_name(vcd_reader_t* reader, int signal) {
    if (signal < 0 || signal >= vcd_signal_count(reader)) {
        return {};
    }
    const signal_t& s = reader->signals[static_cast<std::size_t>(signal)];
    if (!s.by_path) {
        return last_of(reader, s);
    }
    std::string& path = reader->shown_name;
    try {
        std::vector<int> chain; // the signal's scopes, innermost first
        for (int at = s.scope; at >= 0; at = reader->scopes[static_cast<std::size_t>(at)].parent) {
            chain.push_back(at);
        }
        path.clear();
        for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
            const scope_t& scope = reader->scopes[static_cast<std::size_t>(*at)];
            path += name_at(reader, scope.name_at, scope.name_size);
            path += '.';
        }
        path += last_of(reader, s);
    } catch (const std::bad_alloc&) {
        return last_of(reader, s);
    }
    return path;
}

namespace {

// The hash of each beginning of `text` (path_hash of its first k bytes at k).
std::vector<std::uint64_t> prefix_hashes(std::string_view text) {
    std::vector<std::uint64_t> hashes(text.size() + 1);
    hashes[0] = HASH_START;
    for (std::size_t i = 0; i < text.size(); ++i) {
        hashes[i + 1] = path_hash(hashes[i], text.substr(i, 1));
    }
    return hashes;
}

// The first signal at or after `from` called `wanted` that `fits`, else -1.
template <class Fits>
int find_called(const vcd_reader_t* r, std::string_view wanted, int from, Fits fits) {
    const std::vector<std::uint64_t> hashes = prefix_hashes(wanted);
    for (std::size_t i = static_cast<std::size_t>(from); i < r->signals.size(); ++i) {
        const signal_t& s = r->signals[i];
        if (fits(s) && called(r, s, wanted, hashes)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The first signal after `found` with the same name on another identifier code, else -1.
template <class Fits>
int find_other(const vcd_reader_t* r, std::string_view wanted, int found, Fits fits) {
    const int head = r->signals[static_cast<std::size_t>(found)].head;
    return find_called(r, wanted, found + 1,
                       [&](const signal_t& s) { return s.head != head && fits(s); });
}

} // namespace

int vcd_find(const vcd_reader_t* r, const char* name, int* signal, int* bit, int* other) {
    try {
        const std::string_view wanted(name);
        const auto scalar = [](const signal_t& s) { return s.width == 1; };
        if (const int found = find_called(r, wanted, 0, scalar); found >= 0) {
            *signal = found;
            *bit = r->signals[static_cast<std::size_t>(found)].lsb;
            const int second = find_other(r, wanted, found, scalar);
            if (other != nullptr) {
                *other = second;
            }
            return second < 0 ? 0 : VCD_FIND_AMBIGUOUS;
        }
        std::string_view base;
        int msb = 0;
        int lsb = 0;
        if (!split_range(wanted, &base, &msb, &lsb) || msb != lsb) {
            return -1;
        }
        const auto holds = [msb](const signal_t& s) {
            return s.width > 1 && msb >= std::min(s.msb, s.lsb) && msb <= std::max(s.msb, s.lsb);
        };
        const int found = find_called(r, base, 0, holds);
        if (found < 0) {
            return -1;
        }
        *signal = found;
        *bit = msb;
        const int second = find_other(r, base, found, holds);
        if (other != nullptr) {
            *other = second;
        }
        return second < 0 ? 0 : VCD_FIND_AMBIGUOUS;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

int vcd_watch(vcd_reader_t* r, int signal, int bit, int slot) {
    if (signal < 0 || signal >= vcd_signal_count(r) || slot < 0 || slot >= VCD_SLOTS) {
        return -1;
    }
    const signal_t& s = r->signals[static_cast<std::size_t>(signal)];
    const int offset = s.msb >= s.lsb ? bit - s.lsb : s.lsb - bit;
    if (offset < 0 || offset >= s.width) {
        return -1;
    }
    // Every signal of a code shows the same value: the watches live with the code's first.
    signal_t& head = r->signals[static_cast<std::size_t>(s.head)];
    try {
        head.watches.push_back({offset, slot});
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (head.short_index >= 0 && head.next_alias < 0 &&
        r->short_ids[static_cast<std::size_t>(head.short_index)] == s.head) {
        direct_t& d = r->direct[static_cast<std::size_t>(head.short_index)];
        const std::uint32_t slot_bit = std::uint32_t{1} << slot;
        d.usable = d.usable && (d.mask & slot_bit) == 0;
        d.mask |= slot_bit;
        d.high |= offset == 0 ? slot_bit : 0;
    }
    return 0;
}

std::string vcd_signal_code(const vcd_reader_t* reader, int signal) {
    if (signal < 0 || signal >= vcd_signal_count(reader)) {
        return {};
    }
    const int head = reader->signals[static_cast<std::size_t>(signal)].head;
    const int index = reader->signals[static_cast<std::size_t>(head)].short_index;
    if (index >= 0) {
        std::string code;
        if (index < ID_CHARS) {
            code += static_cast<char>(FIRST_ID_CHAR + index);
        } else {
            code += static_cast<char>(FIRST_ID_CHAR + (index - ID_CHARS) / ID_CHARS);
            code += static_cast<char>(FIRST_ID_CHAR + (index - ID_CHARS) % ID_CHARS);
        }
        return code;
    }
    for (const auto& [code, first] : reader->long_ids) {
        if (first == head) {
            return code;
        }
    }
    return {};
}

void vcd_report(vcd_reader_t* reader, std::uint32_t rises, std::uint32_t falls) {
    reader->report_rises = rises;
    reader->report_falls = falls;
    reader->report_fresh = 0;
}

void vcd_batch(vcd_reader_t* reader, vcd_steps_fn steps) {
    reader->batch_fn = steps;
}

std::int64_t vcd_end_time(const vcd_reader_t* reader) {
    return reader->time_ps;
}

std::uint64_t vcd_unknown_count(const vcd_reader_t* reader) {
    return reader->unknown;
}

bool vcd_sniff(const char* data, std::size_t length) {
    std::size_t i = 0;
    while (i < length && is_blank(data[i])) {
        ++i;
    }
    return i < length && data[i] == '$';
}

} // namespace vimbra
