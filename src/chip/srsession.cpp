#include "chip/srsession.hpp"

#include <minizip/unzip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace vimbra {

namespace {

constexpr std::size_t SAMPLE_BUFFER = std::size_t{1} << 18;
constexpr std::size_t VERSION_BYTES = 16;
constexpr int NAME_CAPACITY = 256;

struct chunk_t {
    std::uint64_t number;
    unz64_file_pos pos;
};

} // namespace

struct srsession_t {
    capin_t* in = nullptr;
    unzFile zip = nullptr;
    std::vector<std::string> names;
    std::int64_t rate_hz = 0;
    int unitsize = 0;
    std::vector<chunk_t> chunks;
    std::string capturefile;
    std::int64_t end_ps = 0;
};

namespace {

// ---------------------------------------------------------------- minizip over capin_t

voidpf ZCALLBACK io_open(voidpf opaque, const void*, int) {
    return opaque;
}

uLong ZCALLBACK io_read(voidpf, voidpf stream, void* buf, uLong size) {
    return static_cast<uLong>(capin_read(static_cast<capin_t*>(stream), buf, size));
}

uLong ZCALLBACK io_write(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZCALLBACK io_tell(voidpf, voidpf stream) {
    return capin_tell(static_cast<capin_t*>(stream));
}

long ZCALLBACK io_seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    const int whence = origin == ZLIB_FILEFUNC_SEEK_SET   ? SEEK_SET
                       : origin == ZLIB_FILEFUNC_SEEK_CUR ? SEEK_CUR
                                                          : SEEK_END;
    return capin_seek(static_cast<capin_t*>(stream), offset, whence);
}

int ZCALLBACK io_close(voidpf, voidpf) {
    return 0;
}

int ZCALLBACK io_error(voidpf, voidpf stream) {
    return static_cast<capin_t*>(stream)->failed ? 1 : 0;
}

int refuse(int* status, char* message, int capacity, const std::string& text) {
    *status = CAPTURE_MALFORMED;
    std::snprintf(message, static_cast<std::size_t>(capacity), "%s", text.c_str());
    return CAPTURE_MALFORMED;
}

std::string quoted(const std::string& text) {
    std::array<char, 96> out{};
    capture_quote(text.data(), text.size(), 40, out.data(), static_cast<int>(out.size()));
    return out.data();
}

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A decimal number of at most nine digits, or -1.
long small_number(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return std::stol(text);
}

// Opens the member at `pos` for reading. CAPTURE_OK, or the refusal.
int open_member(srsession_t* s, const unz64_file_pos& pos, const std::string& name, int* status,
                char* message, int capacity) {
    unz_file_info64 info{};
    if (unzGoToFilePos64(s->zip, &pos) != UNZ_OK ||
        unzGetCurrentFileInfo64(s->zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        return refuse(status, message, capacity, quoted(name) + ": the zip directory is damaged");
    }
    if ((info.flag & 1) != 0) {
        return refuse(status, message, capacity,
                      quoted(name) + ": encrypted (a sigrok session never is)");
    }
    if (unzOpenCurrentFile(s->zip) != UNZ_OK) {
        return refuse(status, message, capacity,
                      quoted(name) + ": stored in a way this reader cannot unpack");
    }
    return CAPTURE_OK;
}

// The member at `pos`, up to `limit` bytes; a longer one refuses.
int read_member(srsession_t* s, const unz64_file_pos& pos, const char* name, std::size_t limit,
                std::string* out, int* status, char* message, int capacity) {
    if (open_member(s, pos, name, status, message, capacity) != CAPTURE_OK) {
        return *status;
    }
    std::array<char, 4096> buf{};
    int n = 0;
    while ((n = unzReadCurrentFile(s->zip, buf.data(), static_cast<unsigned>(buf.size()))) > 0) {
        if (out->size() + static_cast<std::size_t>(n) > limit) {
            unzCloseCurrentFile(s->zip);
            return refuse(status, message, capacity,
                          std::string(name) + ": larger than " + std::to_string(limit) + " bytes");
        }
        out->append(buf.data(), static_cast<std::size_t>(n));
    }
    const int closed = unzCloseCurrentFile(s->zip);
    if (n < 0 || closed != UNZ_OK) {
        return refuse(status, message, capacity, std::string(name) + ": the zip data is damaged");
    }
    return CAPTURE_OK;
}

// [device 1] of the metadata: the rate, the unit size, the chunks' name and the probes.
int read_metadata(srsession_t* s, const std::string& text, int* status, char* message,
                  int capacity) {
    const auto fail = [&](const std::string& what) {
        return refuse(status, message, capacity, "metadata: " + what);
    };
    std::string section;
    bool device = false;
    std::string rate;
    std::string unitsize;
    std::string probes;
    std::vector<std::pair<long, std::string>> named;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#') {
            continue;
        }
        if (line[0] == '[') {
            section = line;
            device = device || line == "[device 1]";
            continue;
        }
        const std::size_t eq = line.find('=');
        if (section != "[device 1]" || eq == std::string::npos) {
            continue;
        }
        const std::string key = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));
        if (key == "capturefile") {
            s->capturefile = value;
        } else if (key == "samplerate") {
            rate = value;
        } else if (key == "unitsize") {
            unitsize = value;
        } else if (key == "total probes") {
            probes = value;
        } else if (key.size() > 5 && key.compare(0, 5, "probe") == 0 &&
                   small_number(key.substr(5)) > 0) {
            named.emplace_back(small_number(key.substr(5)), value);
        }
    }
    if (!device) {
        return fail("no [device 1] section");
    }
    if (rate.empty()) {
        return fail("no samplerate");
    }
    if (!capture_parse_rate(rate.data(), rate.size(), &s->rate_hz)) {
        return fail("samplerate '" + quoted(rate) +
                    "' is not a rate from 1 Hz to 1 THz (for example '1 MHz')");
    }
    const long units = small_number(unitsize);
    if (units < 1 || units > SRSESSION_MAX_UNITSIZE) {
        return fail(unitsize.empty() ? std::string("no unitsize")
                                     : "unitsize '" + quoted(unitsize) + "' is not 1 to 8");
    }
    s->unitsize = static_cast<int>(units);
    const long total = small_number(probes);
    if (probes.empty() || total < 0 || total > CAPTURE_MAX_CHANNELS) {
        return fail(probes.empty() ? std::string("no total probes")
                                   : "total probes '" + quoted(probes) + "' is not 0 to 64");
    }
    if (total == 0) {
        return fail("no logic channels (total probes = 0)");
    }
    if (total > units * 8) {
        return fail(std::to_string(total) + " probes do not fit in unitsize " +
                    std::to_string(units));
    }
    if (s->capturefile.empty()) {
        return fail("no capturefile");
    }
    s->names.assign(static_cast<std::size_t>(total), std::string());
    for (const auto& [number, name] : named) {
        if (number <= total) {
            s->names[static_cast<std::size_t>(number - 1)] = name;
        }
    }
    for (std::size_t i = 0; i < s->names.size(); ++i) {
        if (s->names[i].empty()) {
            s->names[i] = std::to_string(i + 1); // sigrok names every probe; a bare number else
        }
    }
    return CAPTURE_OK;
}

// The archive's members, walked once: version, metadata and the chunks of `capturefile`
// (or, as older sessions have it, one member of that name).
int find_members(srsession_t* s, unz64_file_pos* version, unz64_file_pos* metadata,
                 bool* have_version, bool* have_metadata,
                 std::vector<std::pair<std::string, unz64_file_pos>>* logic, int* status,
                 char* message, int capacity) {
    std::array<char, NAME_CAPACITY> name{};
    int walked = unzGoToFirstFile(s->zip);
    while (walked == UNZ_OK) {
        unz_file_info64 info{};
        unz64_file_pos pos{};
        if (unzGetCurrentFileInfo64(s->zip, &info, name.data(), static_cast<uLong>(name.size()),
                                    nullptr, 0, nullptr, 0) != UNZ_OK ||
            unzGetFilePos64(s->zip, &pos) != UNZ_OK) {
            break;
        }
        const std::string member(name.data(),
                                 std::min<std::size_t>(info.size_filename, name.size() - 1));
        if (member == "version") {
            *version = pos;
            *have_version = true;
        } else if (member == "metadata") {
            *metadata = pos;
            *have_metadata = true;
        } else if (member.compare(0, 6, "logic-") == 0) {
            if (logic->size() >= static_cast<std::size_t>(SRSESSION_MAX_CHUNKS)) {
                return refuse(status, message, capacity,
                              "more than " + std::to_string(SRSESSION_MAX_CHUNKS) +
                                  " chunks of samples");
            }
            logic->emplace_back(member, pos);
        }
        walked = unzGoToNextFile(s->zip);
    }
    if (walked != UNZ_END_OF_LIST_OF_FILE) {
        return refuse(status, message, capacity, "the zip archive's directory is damaged");
    }
    return CAPTURE_OK;
}

int order_chunks(srsession_t* s, const std::vector<std::pair<std::string, unz64_file_pos>>& logic,
                 int* status, char* message, int capacity) {
    const std::string prefix = s->capturefile + "-";
    for (const auto& [member, pos] : logic) {
        if (member == s->capturefile) {
            s->chunks.push_back(chunk_t{1, pos});
        } else if (member.compare(0, prefix.size(), prefix) == 0) {
            const long number = small_number(member.substr(prefix.size()));
            if (number > 0) {
                s->chunks.push_back(chunk_t{static_cast<std::uint64_t>(number), pos});
            }
        }
    }
    std::sort(s->chunks.begin(), s->chunks.end(),
              [](const chunk_t& a, const chunk_t& b) { return a.number < b.number; });
    for (std::size_t i = 0; i < s->chunks.size(); ++i) {
        if (s->chunks[i].number != i + 1) {
            return refuse(status, message, capacity,
                          i > 0 && s->chunks[i].number == i
                              ? quoted(prefix) + std::to_string(i) + " is given twice"
                              : quoted(prefix) + std::to_string(i + 1) + " is missing (" +
                                    quoted(prefix) + std::to_string(s->chunks[i].number) +
                                    " is there)");
        }
    }
    return CAPTURE_OK;
}

int open_session(srsession_t* s, int* status, char* message, int capacity) {
    zlib_filefunc64_def io{io_open, io_read, io_write, io_tell, io_seek, io_close, io_error, s->in};
    s->zip = unzOpen2_64("session", &io);
    if (s->zip == nullptr) {
        if (s->in->failed) {
            *status = CAPTURE_UNREADABLE;
            return CAPTURE_UNREADABLE;
        }
        return refuse(status, message, capacity,
                      "not a zip archive that can be read (a sigrok session is one)");
    }
    unz64_file_pos version_pos{};
    unz64_file_pos metadata_pos{};
    bool have_version = false;
    bool have_metadata = false;
    std::vector<std::pair<std::string, unz64_file_pos>> logic;
    if (find_members(s, &version_pos, &metadata_pos, &have_version, &have_metadata, &logic, status,
                     message, capacity) != CAPTURE_OK) {
        return *status;
    }
    if (!have_version || !have_metadata) {
        return refuse(status, message, capacity,
                      std::string("the zip archive has no '") +
                          (have_version ? "metadata" : "version") + "': not a sigrok session");
    }
    std::string version;
    if (read_member(s, version_pos, "version", VERSION_BYTES, &version, status, message,
                    capacity) != CAPTURE_OK) {
        return *status;
    }
    if (trim(version) != "2") {
        return refuse(status, message, capacity,
                      "version '" + quoted(trim(version)) +
                          "': this reader takes sigrok sessions of version 2");
    }
    std::string metadata;
    if (read_member(s, metadata_pos, "metadata", SRSESSION_MAX_METADATA, &metadata, status, message,
                    capacity) != CAPTURE_OK ||
        read_metadata(s, metadata, status, message, capacity) != CAPTURE_OK) {
        return *status;
    }
    return order_chunks(s, logic, status, message, capacity);
}

// ---------------------------------------------------------------- the samples

// Which role each byte of a sample drives: the levels of a sample are the OR of its bytes'
// entries, so that a change is found and mapped with a few table reads.
struct sampler_t {
    int unit = 1;
    std::array<std::array<std::uint32_t, 256>, SRSESSION_MAX_UNITSIZE> roles{};
    std::array<unsigned char, SRSESSION_MAX_UNITSIZE> mask{}; // the used bits of each byte
    std::uint32_t used = 0;                                   // roles wired
    std::array<unsigned char, SRSESSION_MAX_UNITSIZE> last{}; // the last sample, masked
    std::uint32_t levels = 0;
    bool started = false;
    std::uint64_t sample = 0; // index of the next sample
    std::int64_t rate_hz = 1;
    std::int64_t period_ps = 0; // a sample in picoseconds when whole, else 0
    std::uint64_t mask8 = 0;    // `mask` repeated over eight bytes (when the unit divides 8)
    std::uint64_t last8 = 0;    // `last` so repeated
};

void sampler_start(sampler_t* m, int unit, std::int64_t rate_hz,
                   const std::array<int, BUS_ROLES>& channel_of_role) {
    m->unit = unit;
    m->rate_hz = rate_hz;
    m->period_ps = 1000000000000 % rate_hz == 0 ? 1000000000000 / rate_hz : 0;
    for (int role = 0; role < BUS_ROLES; ++role) {
        const int channel = channel_of_role[static_cast<std::size_t>(role)];
        if (channel < 0 || channel >= unit * 8) {
            continue;
        }
        const auto byte = static_cast<std::size_t>(channel / 8);
        const unsigned bit = 1u << (channel % 8);
        m->mask[byte] = static_cast<unsigned char>(m->mask[byte] | bit);
        m->used |= 1u << role;
        for (unsigned v = 0; v < 256; ++v) {
            if ((v & bit) != 0) {
                m->roles[byte][v] |= 1u << role;
            }
        }
    }
}

// `unit` bytes repeated over eight, as they lie in memory, for a unit that divides eight.
void repeat8(const unsigned char* bytes, int unit, std::uint64_t* out) {
    std::array<unsigned char, 8> word{};
    std::memcpy(word.data(), bytes, static_cast<std::size_t>(unit));
    for (std::size_t n = static_cast<std::size_t>(unit); n < word.size(); n *= 2) {
        std::memcpy(word.data() + n, word.data(), n);
    }
    std::memcpy(out, word.data(), word.size());
}

// The time of sample k, k / rate seconds in whole picoseconds, exact: a multiplication when
// a sample is a whole number of picoseconds (the usual rates), else a division in 128 bits.
bool sample_time(std::uint64_t k, std::int64_t rate_hz, std::int64_t period_ps, std::int64_t* ps) {
    if (period_ps > 0) {
        if (k > static_cast<std::uint64_t>(INT64_MAX / period_ps)) {
            return false;
        }
        *ps = static_cast<std::int64_t>(k) * period_ps;
        return true;
    }
    __extension__ using wide_t = unsigned __int128;
    const wide_t t = static_cast<wide_t>(k) * 1000000000000u / static_cast<wide_t>(rate_hz);
    if (t > static_cast<wide_t>(INT64_MAX)) {
        return false;
    }
    *ps = static_cast<std::int64_t>(t);
    return true;
}

// Sample `p` (unit bytes) differs from the last in a used bit: one step.
int take_change(sampler_t* m, const unsigned char* p, capture_emit_t* emit) {
    std::uint32_t levels = 0;
    for (int b = 0; b < m->unit; ++b) {
        const auto i = static_cast<std::size_t>(b);
        m->last[i] = static_cast<unsigned char>(p[i] & m->mask[i]);
        levels |= m->roles[i][p[i]];
    }
    if (8 % m->unit == 0) {
        repeat8(m->last.data(), m->unit, &m->last8);
    }
    std::int64_t ps = 0;
    if (!sample_time(m->sample, m->rate_hz, m->period_ps, &ps)) {
        return CAPTURE_MALFORMED;
    }
    const std::uint32_t fresh = m->started ? 0 : m->used;
    // The first step's lines are fresh; those high count as changed from an all-low start, as
    // a VCD's first values do.
    const bus_step_t step{
        ps, static_cast<std::uint32_t>(std::min<std::uint64_t>(m->sample, UINT32_MAX)),
        levels ^ m->levels, levels, fresh};
    m->levels = levels;
    m->started = true;
    return capture_emit(emit, step) ? CAPTURE_OK : CAPTURE_STOPPED;
}

bool differs(const sampler_t* m, const unsigned char* p) {
    for (int b = 0; b < m->unit; ++b) {
        const auto i = static_cast<std::size_t>(b);
        if ((p[i] & m->mask[i]) != m->last[i]) {
            return true;
        }
    }
    return false;
}

// Whole samples of one buffer. Runs where nothing used changes are skipped eight bytes at a
// time when the unit divides eight.
int take_samples(sampler_t* m, const unsigned char* p, std::size_t count, capture_emit_t* emit) {
    const auto unit = static_cast<std::size_t>(m->unit);
    const bool words = 8 % unit == 0;
    const std::size_t per_word = 8 / unit;
    std::size_t i = 0;
    while (i < count) {
        if (!m->started) {
            if (const int taken = take_change(m, p, emit); taken != CAPTURE_OK) {
                return taken;
            }
            ++i;
            ++m->sample;
            continue;
        }
        if (words) {
            while (i + per_word <= count) {
                std::uint64_t word = 0;
                std::memcpy(&word, p + i * unit, 8);
                if (((word ^ m->last8) & m->mask8) != 0) {
                    break;
                }
                i += per_word;
                m->sample += per_word;
            }
            if (i >= count) {
                break;
            }
        }
        const unsigned char* sample = p + i * unit;
        if (differs(m, sample)) {
            if (const int taken = take_change(m, sample, emit); taken != CAPTURE_OK) {
                return taken;
            }
        }
        ++i;
        ++m->sample;
    }
    return CAPTURE_OK;
}

} // namespace

srsession_t* srsession_open(capin_t* in, int* status, char* message, int capacity) {
    auto* s = new (std::nothrow) srsession_t;
    if (s == nullptr) {
        *status = CAPTURE_NO_MEMORY;
        return nullptr;
    }
    s->in = in;
    *status = CAPTURE_OK;
    try {
        open_session(s, status, message, capacity);
    } catch (const std::bad_alloc&) {
        *status = CAPTURE_NO_MEMORY;
    }
    if (*status != CAPTURE_OK) {
        srsession_close(s);
        return nullptr;
    }
    return s;
}

void srsession_close(srsession_t* session) {
    if (session != nullptr) {
        if (session->zip != nullptr) {
            unzClose(session->zip);
        }
        delete session;
    }
}

int srsession_channel_count(const srsession_t* session) {
    return static_cast<int>(session->names.size());
}

const char* srsession_channel_name(const srsession_t* session, int channel) {
    return session->names[static_cast<std::size_t>(channel)].c_str();
}

std::int64_t srsession_rate_hz(const srsession_t* session) {
    return session->rate_hz;
}

std::int64_t srsession_end_ps(const srsession_t* session) {
    return session->end_ps;
}

int srsession_run(srsession_t* s, const std::array<int, BUS_ROLES>& channel_of_role,
                  capture_emit_t* emit, char* message, int capacity) {
    int status = CAPTURE_OK;
    auto* sampler = new (std::nothrow) sampler_t;
    auto* buffer = new (std::nothrow) unsigned char[SAMPLE_BUFFER + SRSESSION_MAX_UNITSIZE];
    if (sampler == nullptr || buffer == nullptr) {
        delete sampler;
        delete[] buffer;
        std::snprintf(message, static_cast<std::size_t>(capacity), "Memory Allocation Error.");
        return CAPTURE_NO_MEMORY;
    }
    sampler_start(sampler, s->unitsize, s->rate_hz, channel_of_role);
    if (8 % sampler->unit == 0) {
        repeat8(sampler->mask.data(), sampler->unit, &sampler->mask8);
    }
    const auto unit = static_cast<std::size_t>(s->unitsize);
    std::size_t carry = 0; // bytes of a sample split between reads
    for (std::size_t c = 0; c < s->chunks.size() && status == CAPTURE_OK; ++c) {
        const std::string name = s->capturefile + "-" + std::to_string(s->chunks[c].number);
        if (open_member(s, s->chunks[c].pos, name, &status, message, capacity) != CAPTURE_OK) {
            break;
        }
        int n = 0;
        while (status == CAPTURE_OK &&
               (n = unzReadCurrentFile(s->zip, buffer + carry,
                                       static_cast<unsigned>(SAMPLE_BUFFER))) > 0) {
            const std::size_t have = carry + static_cast<std::size_t>(n);
            const std::size_t whole = have / unit;
            status = take_samples(sampler, buffer, whole, emit);
            carry = have - whole * unit;
            std::memmove(buffer, buffer + whole * unit, carry);
        }
        const int closed = unzCloseCurrentFile(s->zip);
        if (status == CAPTURE_MALFORMED) {
            refuse(&status, message, capacity,
                   "the capture lasts beyond 106 days (sample " + std::to_string(sampler->sample) +
                       ")");
        } else if (status == CAPTURE_OK && (n < 0 || closed != UNZ_OK)) {
            status = s->in->failed ? CAPTURE_UNREADABLE
                                   : refuse(&status, message, capacity,
                                            quoted(name) + ": the zip data is damaged");
        }
    }
    if (status == CAPTURE_OK && carry != 0) {
        refuse(&status, message, capacity,
               "the samples end inside a sample of " + std::to_string(unit) + " bytes");
    }
    std::int64_t end = 0;
    if (sampler->sample > 0 &&
        sample_time(sampler->sample - 1, s->rate_hz, sampler->period_ps, &end)) {
        s->end_ps = end;
    }
    delete sampler;
    delete[] buffer;
    return status;
}

} // namespace vimbra
