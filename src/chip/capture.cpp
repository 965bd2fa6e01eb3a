#include "chip/capture.hpp"

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "chip/saleae.hpp"
#include "chip/srsession.hpp"

namespace vimbra {

namespace {

constexpr std::size_t SNIFF_LINES = 16; // stray lines looked through for a VCD header
constexpr std::int64_t PS_PER_S = 1000000000000;

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool starts_with(const char* p, const char* end, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    return static_cast<std::size_t>(end - p) >= n && std::memcmp(p, prefix, n) == 0;
}

// A $ keyword at `p`: '$' and a letter.
bool is_keyword_at(const char* p, const char* end) {
    return end - p >= 2 && p[0] == '$' &&
           ((p[1] >= 'a' && p[1] <= 'z') || (p[1] >= 'A' && p[1] <= 'Z'));
}

const char* line_end(const char* p, const char* end) {
    const auto* nl =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    return nl != nullptr ? nl : end;
}

// Text other than blanks and printable characters (UTF-8 included) marks a binary file.
bool looks_binary(const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        if (c < 0x20 && !is_blank(static_cast<char>(c))) {
            return true;
        }
    }
    return false;
}

const char* find_in(const char* p, const char* end, const char* text) {
    const std::size_t n = std::strlen(text);
    for (; static_cast<std::size_t>(end - p) >= n; ++p) {
        if (std::memcmp(p, text, n) == 0) {
            return p;
        }
    }
    return nullptr;
}

// The rate that sigrok's VCD writer names in its header comment ("Acquisition with 4/4
// channels at 4 MHz"), or a stray "META samplerate: N" line: the trace was sampled.
std::int64_t stated_rate(const char* p, const char* end) {
    for (const char* at = p; at < end;) {
        const char* e = line_end(at, end);
        const char* word = at;
        while (word < e && is_blank(*word)) {
            ++word;
        }
        if (starts_with(word, e, "$enddefinitions")) {
            break;
        }
        const char* rate = nullptr;
        if (starts_with(word, e, "META samplerate:")) {
            rate = word + std::strlen("META samplerate:");
        } else if (const char* said = find_in(word, e, "Acquisition with "); said != nullptr) {
            for (const char* q = said; q + 4 <= e; ++q) {
                if (std::memcmp(q, " at ", 4) == 0) {
                    rate = q + 4;
                }
            }
        }
        std::int64_t hz = 0;
        if (rate != nullptr) {
            const char* stop = e;
            for (const char* q = rate; q < e; ++q) {
                if (*q == '$') {
                    stop = q;
                    break;
                }
            }
            if (capture_parse_rate(rate, static_cast<std::size_t>(stop - rate), &hz)) {
                return hz;
            }
        }
        at = e + 1;
    }
    return 0;
}

} // namespace

capture_sniff_t capture_sniff(const char* head, std::size_t length) {
    capture_sniff_t s{CAPTURE_TEXT, 0, 0, 0};
    const char* p = head;
    const char* end = head + length;
    if (starts_with(p, end, "PK\x03\x04") || starts_with(p, end, "PK\x05\x06")) {
        s.kind = CAPTURE_SESSION;
        return s;
    }
    if (starts_with(p, end, "<SALEAE>")) {
        s.kind = CAPTURE_SALEAE_BINARY;
        return s;
    }
    const char* text = starts_with(p, end, "\xEF\xBB\xBF") ? p + 3 : p;
    if (starts_with(text, end, "Time [s],")) {
        s.kind = CAPTURE_SALEAE_CSV;
        return s;
    }
    // A VCD, perhaps after a few stray lines.
    const char* at = p;
    for (std::size_t line = 0; line < SNIFF_LINES && at < end; ++line) {
        const char* e = line_end(at, end);
        const char* word = at;
        while (word < e && is_blank(*word)) {
            ++word;
        }
        if (word < e && (line == 0 ? *word == '$' : is_keyword_at(word, e))) {
            s.kind = CAPTURE_VCD;
            s.rate_hz = stated_rate(p, end);
            return s;
        }
        if (word < e) {
            s.stray_lines = static_cast<int>(line) + 1;
            s.stray_bytes = static_cast<std::size_t>(e - p) + (e < end ? 1 : 0);
        }
        at = e + 1;
    }
    s.stray_lines = 0;
    s.stray_bytes = 0;
    // The first line may be all blanks: a VCD whose keyword is on the next.
    const char* first = p;
    while (first < end && is_blank(*first)) {
        ++first;
    }
    if (first < end && *first == '$') {
        s.kind = CAPTURE_VCD;
        s.rate_hz = stated_rate(p, end);
        return s;
    }
    s.kind = looks_binary(p, length) ? CAPTURE_UNKNOWN : CAPTURE_TEXT;
    return s;
}

void capture_stray_text(const char* head, const capture_sniff_t* sniff, char* out, int capacity) {
    const char* end = head + sniff->stray_bytes;
    std::array<char, 96> first{};
    const char* word = head;
    while (word < end && is_blank(*word)) {
        ++word;
    }
    const char* e = line_end(word, end);
    while (e > word && is_blank(e[-1])) {
        --e;
    }
    capture_quote(word, static_cast<std::size_t>(e - word), 40, first.data(),
                  static_cast<int>(first.size()));
    if (sniff->stray_lines == 1) {
        std::snprintf(out, static_cast<std::size_t>(capacity), "line 1 ('%s')", first.data());
    } else {
        std::snprintf(out, static_cast<std::size_t>(capacity), "lines 1 to %d ('%s', ...)",
                      sniff->stray_lines, first.data());
    }
}

bool capture_parse_rate(const char* text, std::size_t length, std::int64_t* hz) {
    const char* p = text;
    const char* end = text + length;
    while (p < end && is_blank(*p)) {
        ++p;
    }
    while (end > p && is_blank(end[-1])) {
        --end;
    }
    std::int64_t whole = 0;
    int digits = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        if (++digits > 13) {
            return false;
        }
        whole = whole * 10 + (*p - '0');
    }
    std::int64_t fraction = 0;
    int fraction_digits = 0;
    if (p < end && *p == '.') {
        for (++p; p < end && *p >= '0' && *p <= '9'; ++p) {
            if (++fraction_digits > 12) {
                return false;
            }
            fraction = fraction * 10 + (*p - '0');
        }
    }
    if (digits == 0 && fraction_digits == 0) {
        return false;
    }
    while (p < end && *p == ' ') {
        ++p;
    }
    struct unit_t {
        const char* name;
        std::int64_t scale;
    };
    static constexpr std::array<unit_t, 8> UNITS{{{"", 1},
                                                  {"Hz", 1},
                                                  {"kHz", 1000},
                                                  {"KHz", 1000},
                                                  {"khz", 1000},
                                                  {"MHz", 1000000},
                                                  {"mhz", 1000000},
                                                  {"GHz", 1000000000}}};
    const std::size_t rest = static_cast<std::size_t>(end - p);
    for (const unit_t& u : UNITS) {
        if (std::strlen(u.name) != rest || std::memcmp(p, u.name, rest) != 0) {
            continue;
        }
        std::int64_t ten = 1;
        for (int i = 0; i < fraction_digits; ++i) {
            ten *= 10;
        }
        // whole has at most 13 digits and scale at most 10^9: checked before multiplying.
        if (whole > CAPTURE_MAX_RATE_HZ / u.scale) {
            return false;
        }
        const std::int64_t part = fraction * u.scale; // below 10^12 * 10^9: fits
        if (part % ten != 0) {
            return false; // not a whole number of hertz
        }
        const std::int64_t value = whole * u.scale + part / ten;
        if (value < 1 || value > CAPTURE_MAX_RATE_HZ) {
            return false;
        }
        *hz = value;
        return true;
    }
    return false;
}

bool capture_parse_seconds(const char* text, std::size_t length, std::int64_t* ps) {
    const char* p = text;
    const char* end = text + length;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    // Up to 18 significant digits and the power of ten they are scaled by.
    std::int64_t mantissa = 0;
    int significant = 0;
    int power = 0;
    bool any = false;
    bool rounding_up = false; // the first dropped digit is 5 or more
    bool dropped = false;
    const auto take = [&](char c, bool fraction) {
        any = true;
        if (significant < 18) {
            if (mantissa != 0 || c != '0') {
                mantissa = mantissa * 10 + (c - '0');
                ++significant;
            }
            power -= fraction ? 1 : 0;
        } else {
            if (!dropped) {
                rounding_up = c >= '5';
                dropped = true;
            }
            power += fraction ? 0 : 1;
        }
    };
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        take(*p, false);
    }
    if (p < end && *p == '.') {
        for (++p; p < end && *p >= '0' && *p <= '9'; ++p) {
            take(*p, true);
        }
    }
    if (!any) {
        return false;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool minus = false;
        if (p < end && (*p == '-' || *p == '+')) {
            minus = *p == '-';
            ++p;
        }
        int exponent = 0;
        const char* digits = p;
        for (; p < end && *p >= '0' && *p <= '9'; ++p) {
            exponent = exponent < 1000 ? exponent * 10 + (*p - '0') : exponent;
        }
        if (p == digits) {
            return false;
        }
        power += minus ? -exponent : exponent;
    }
    if (p != end) {
        return false;
    }
    if (rounding_up) {
        ++mantissa; // below 10^18 + 1: fits
    }
    power += 12; // seconds to picoseconds
    constexpr std::int64_t LIMIT = INT64_MAX / 10;
    std::int64_t value = mantissa;
    if (value == 0) {
        *ps = 0;
        return true;
    }
    for (; power > 0; --power) {
        if (value > LIMIT) {
            return false;
        }
        value *= 10;
    }
    for (; power < 0 && value != 0; ++power) {
        const bool up = value % 10 >= 5;
        value = value / 10 + (up && power == -1 ? 1 : 0);
    }
    *ps = negative ? -value : value;
    return true;
}

void capture_quote(const char* text, std::size_t length, std::size_t shown, char* out,
                   int capacity) {
    const auto room = static_cast<std::size_t>(capacity);
    std::size_t used = 0;
    for (std::size_t i = 0; i < length && i < shown && used + 8 < room; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out[used++] = static_cast<char>(c);
        } else {
            used += static_cast<std::size_t>(std::snprintf(out + used, room - used, "\\x%02X", c));
        }
    }
    if (length > shown && used + 4 < room) {
        std::memcpy(out + used, "...", 3);
        used += 3;
    }
    out[used] = '\0';
}

bool capture_flush(capture_emit_t* emit) {
    if (emit->count > 0 && !emit->stopped &&
        emit->steps(emit->batch.data(), emit->count, emit->ctx) != 0) {
        emit->stopped = true;
    }
    emit->count = 0;
    return !emit->stopped;
}

// ---------------------------------------------------------------- inputs

capin_t capin_file(std::FILE* fp) {
    return capin_t{fp, nullptr, 0, 0, false};
}

capin_t capin_memory(const void* data, std::size_t size) {
    return capin_t{nullptr, static_cast<const unsigned char*>(data), size, 0, false};
}

std::size_t capin_read(capin_t* in, void* out, std::size_t length) {
    std::size_t n = 0;
    if (in->data != nullptr && in->pos < in->size) {
        n = std::min(length, in->size - in->pos);
        std::memcpy(out, in->data + in->pos, n);
        in->pos += n;
    }
    if (in->fp != nullptr && n < length) {
        const std::size_t more =
            std::fread(static_cast<unsigned char*>(out) + n, 1, length - n, in->fp);
        if (more < length - n && std::ferror(in->fp)) {
            in->failed = true;
        }
        n += more;
    }
    return n;
}

int capin_seek(capin_t* in, std::uint64_t offset, int whence) {
    if (in->fp != nullptr) {
        if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
            ::fseeko(in->fp, static_cast<off_t>(offset), whence) != 0) {
            in->failed = in->failed || errno != EINVAL;
            return -1;
        }
        return 0;
    }
    const std::uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? in->pos : in->size;
    if (whence == SEEK_END) {
        // minizip seeks back from the end with a negative offset cast to unsigned.
        const std::uint64_t back = ~offset + 1;
        if (offset != 0 && back <= in->size) {
            in->pos = static_cast<std::size_t>(in->size - back);
            return 0;
        }
        if (offset == 0) {
            in->pos = in->size;
            return 0;
        }
        return -1;
    }
    if (offset > in->size - base) {
        return -1;
    }
    in->pos = static_cast<std::size_t>(base + offset);
    return 0;
}

std::uint64_t capin_tell(capin_t* in) {
    if (in->fp != nullptr) {
        const off_t at = ::ftello(in->fp);
        return at < 0 ? 0 : static_cast<std::uint64_t>(at);
    }
    return in->pos;
}

// ---------------------------------------------------------------- one handle

struct capture_t {
    srsession_t* session = nullptr;
    saleae_t* saleae = nullptr;
    std::array<int, BUS_ROLES> channel_of_role{};
    std::array<char, CAPTURE_MESSAGE_CAPACITY> message{};
};

namespace {

capture_t* wrap(srsession_t* session, saleae_t* saleae, int* status) {
    if (session == nullptr && saleae == nullptr) {
        return nullptr;
    }
    auto* c = new (std::nothrow) capture_t;
    if (c == nullptr) {
        srsession_close(session);
        saleae_close(saleae);
        *status = CAPTURE_NO_MEMORY;
        return nullptr;
    }
    c->session = session;
    c->saleae = saleae;
    c->channel_of_role.fill(-1);
    return c;
}

} // namespace

capture_t* capture_open_session(capin_t* in, int* status, char* message, int capacity) {
    *status = CAPTURE_OK;
    return wrap(srsession_open(in, status, message, capacity), nullptr, status);
}

capture_t* capture_open_saleae(capin_t* files, const char* const* names, int count, int* status,
                               char* message, int capacity) {
    *status = CAPTURE_OK;
    return wrap(nullptr, saleae_open_binary(files, names, count, status, message, capacity),
                status);
}

capture_t* capture_open_csv(capin_t* in, int* status, char* message, int capacity) {
    *status = CAPTURE_OK;
    return wrap(nullptr, saleae_open_csv(in, status, message, capacity), status);
}

void capture_close(capture_t* capture) {
    if (capture != nullptr) {
        srsession_close(capture->session);
        saleae_close(capture->saleae);
        delete capture;
    }
}

int capture_channel_count(const capture_t* c) {
    return c->session != nullptr ? srsession_channel_count(c->session)
                                 : saleae_channel_count(c->saleae);
}

const char* capture_channel_name(const capture_t* c, int channel) {
    return c->session != nullptr ? srsession_channel_name(c->session, channel)
                                 : saleae_channel_name(c->saleae, channel);
}

int capture_find(const capture_t* c, const char* name) {
    for (int i = 0; i < capture_channel_count(c); ++i) {
        if (std::strcmp(capture_channel_name(c, i), name) == 0) {
            return i;
        }
    }
    return c->saleae != nullptr ? saleae_find_file(c->saleae, name) : -1;
}

int capture_watch(capture_t* c, int channel, int role) {
    if (channel < 0 || channel >= capture_channel_count(c) || role < 0 || role >= BUS_ROLES) {
        return -1;
    }
    c->channel_of_role[static_cast<std::size_t>(role)] = channel;
    return 0;
}

std::int64_t capture_rate_hz(const capture_t* c) {
    return c->session != nullptr ? srsession_rate_hz(c->session) : 0;
}

int capture_run(capture_t* c, capture_steps_fn steps, void* ctx) {
    auto* emit = new (std::nothrow) capture_emit_t{};
    if (emit == nullptr) {
        std::snprintf(c->message.data(), c->message.size(), "Memory Allocation Error.");
        return CAPTURE_NO_MEMORY;
    }
    emit->steps = steps;
    emit->ctx = ctx;
    const int capacity = static_cast<int>(c->message.size());
    int status =
        c->session != nullptr
            ? srsession_run(c->session, c->channel_of_role, emit, c->message.data(), capacity)
            : saleae_run(c->saleae, c->channel_of_role, emit, c->message.data(), capacity);
    // The steps before a refusal are given too, as a VCD's are.
    if (!capture_flush(emit) && status == CAPTURE_OK) {
        status = CAPTURE_STOPPED;
    }
    delete emit;
    return status;
}

const char* capture_message(const capture_t* c) {
    return c->message.data();
}

std::int64_t capture_end_ps(const capture_t* c) {
    return c->session != nullptr ? srsession_end_ps(c->session) : saleae_end_ps(c->saleae);
}

// Seconds are at most this many picoseconds: the capture's own clock cannot reach further.
static_assert(PS_PER_S == 1000000000000, "a second in picoseconds");

} // namespace vimbra
