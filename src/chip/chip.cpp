#include "chip/chip.hpp"

#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>

namespace vimbra {

namespace {

constexpr unsigned char BLANK = 0x20;
constexpr int SHIFT_RING = CHIP_ONE_LINE_LENGTH; // a multiple of both line rings
constexpr int CGRAM_MASK = CHIP_CGRAM_BYTES - 1;
constexpr int DDRAM_MASK = CHIP_DDRAM_BYTES - 1;
constexpr std::int64_t US = CHIP_PS_PER_US;
constexpr std::int64_t MS = 1000 * US;
constexpr std::int64_t NEVER = INT64_MIN;
// Execution times at fOSC = 270 kHz (HD44780U datasheet; clear from the compatible chips).
constexpr std::int64_t SHORT_EXECUTION_PS = 37 * US;
constexpr std::int64_t LONG_EXECUTION_PS = 1520 * US;
constexpr int DATASHEET_FOSC_KHZ = 270;
// Reset by instruction: the waits after the first and the second function set.
constexpr std::int64_t FIRST_RESET_WAIT_PS = 4100 * US;
constexpr std::int64_t SECOND_RESET_WAIT_PS = 100 * US;

// Instructions, numbered by their highest set bit: decoding is std::bit_width.
enum op : int {
    OP_NONE = 0,
    OP_CLEAR = 1,
    OP_HOME = 2,
    OP_ENTRY_MODE = 3,
    OP_DISPLAY_CONTROL = 4,
    OP_SHIFT = 5,
    OP_FUNCTION_SET = 6,
    OP_SET_CGRAM = 7,
    OP_SET_DDRAM = 8,
};

// In op order.
constexpr std::array<const char*, 9> OP_NAMES{{"no instruction", "clear", "home", "entry mode set",
                                               "display control", "shift", "function set",
                                               "set CGRAM address", "set DDRAM address"}};

op decode(unsigned char byte) {
    return static_cast<op>(std::bit_width(static_cast<unsigned>(byte)));
}

// One step of the counter in DDRAM. The used ranges wrap at the datasheet's points; an address
// outside them (0x28..0x3F and 0x68..0x7F in two-line mode, 0x50..0x7F in one-line mode) is
// stored like any other, never shown, and steps by one within 7 bits, so it walks back into
// a used range.
unsigned char ddram_step(unsigned char ac, bool two_lines, bool up) {
    if (two_lines) {
        if (up && ac == 0x27) {
            return CHIP_LINE2_BASE;
        }
        if (up && ac == 0x67) {
            return 0x00;
        }
        if (!up && ac == CHIP_LINE2_BASE) {
            return 0x27;
        }
        if (!up && ac == 0x00) {
            return 0x67;
        }
    } else {
        if (up && ac == 0x4F) {
            return 0x00;
        }
        if (!up && ac == 0x00) {
            return 0x4F;
        }
    }
    return static_cast<unsigned char>((ac + (up ? 1 : -1)) & DDRAM_MASK);
}

// One step of the counter wherever it points: CGRAM wraps within its 6 bits.
void step_counter(chip_t* chip, bool up) {
    if (chip->ac_in_cgram) {
        chip->ac = static_cast<unsigned char>((chip->ac + (up ? 1 : -1)) & CGRAM_MASK);
    } else {
        chip->ac = ddram_step(chip->ac, chip->two_lines, up);
    }
}

// `shift` counts positions moved left; a right shift is a left shift by ring - 1.
void shift_display(chip_t* chip, bool left) {
    chip->shift = (chip->shift + (left ? 1 : SHIFT_RING - 1)) % SHIFT_RING;
}

unsigned char& memory_at_counter(chip_t* chip) {
    if (chip->ac_in_cgram) {
        return chip->cgram[chip->ac & CGRAM_MASK];
    }
    return chip->ddram[chip->ac & DDRAM_MASK];
}

void clear_display(chip_t* chip) {
    chip->ddram.fill(BLANK);
    chip->ac = 0;
    chip->ac_in_cgram = false;
    chip->increment = true;
    chip->shift = 0;
}

void return_home(chip_t* chip) {
    chip->ac = 0;
    chip->ac_in_cgram = false;
    chip->shift = 0;
}

// Bit 3 S/C, bit 2 R/L.
void cursor_or_display_shift(chip_t* chip, unsigned char byte) {
    const bool right = (byte & 0x04) != 0;
    if ((byte & 0x08) != 0) {
        shift_display(chip, !right);
    } else {
        step_counter(chip, right);
    }
}

// Bit 4 DL, bit 3 N, bit 2 F. The one place that switches the bus width.
void function_set(chip_t* chip, unsigned char byte) {
    chip->eight_bit = (byte & 0x10) != 0;
    chip->two_lines = (byte & 0x08) != 0;
    chip->tall_font = (byte & 0x04) != 0;
    if (chip->eight_bit) {
        chip->nibble_pending = false; // no half byte survives a switch to the 8-bit bus
    }
}

void execute_instruction(chip_t* chip, unsigned char byte) {
    switch (decode(byte)) {
    case OP_SET_DDRAM:
        chip->ac = static_cast<unsigned char>(byte & DDRAM_MASK);
        chip->ac_in_cgram = false;
        break;
    case OP_SET_CGRAM:
        chip->ac = static_cast<unsigned char>(byte & CGRAM_MASK);
        chip->ac_in_cgram = true;
        break;
    case OP_FUNCTION_SET:
        function_set(chip, byte);
        break;
    case OP_SHIFT:
        cursor_or_display_shift(chip, byte);
        break;
    case OP_DISPLAY_CONTROL: // bit 2 D, bit 1 C, bit 0 B
        chip->display_on = (byte & 0x04) != 0;
        chip->cursor_on = (byte & 0x02) != 0;
        chip->blink_on = (byte & 0x01) != 0;
        break;
    case OP_ENTRY_MODE: // bit 1 I/D, bit 0 S
        chip->increment = (byte & 0x02) != 0;
        chip->shift_on_write = (byte & 0x01) != 0;
        break;
    case OP_HOME:
        return_home(chip);
        break;
    case OP_CLEAR:
        clear_display(chip);
        break;
    case OP_NONE:
        break;
    }
}

// Write data to DDRAM or CGRAM at AC, then step AC (and shift the display when S is set and
// the write went to DDRAM).
void execute_data(chip_t* chip, unsigned char byte) {
    const bool to_ddram = !chip->ac_in_cgram;
    memory_at_counter(chip) = to_ddram ? byte : static_cast<unsigned char>(byte & 0x1F);
    step_counter(chip, chip->increment);
    if (to_ddram && chip->shift_on_write) {
        shift_display(chip, chip->increment);
    }
}

bool long_execution(unsigned char instruction, bool data) {
    const op o = decode(instruction);
    return !data && (o == OP_CLEAR || o == OP_HOME);
}

void format_span(std::int64_t ps, char* out, int capacity) {
    if (ps >= MS) {
        chip_format_ms(ps, 3, out, capacity);
        return;
    }
    // Microseconds to two decimals, trailing zeros dropped.
    std::snprintf(out, static_cast<std::size_t>(capacity), "%lld.%02lld",
                  static_cast<long long>(ps / US), static_cast<long long>(ps % US / 10000));
    std::size_t n = std::strlen(out);
    while (out[n - 1] == '0') {
        out[--n] = '\0';
    }
    if (out[n - 1] == '.') {
        out[--n] = '\0';
    }
    std::strncat(out, " us", static_cast<std::size_t>(capacity) - n - 1);
}

// The faults' messages stay out of line, so that a byte taken in time needs no frame for
// their text.
[[gnu::noinline]] void busy_fault(const chip_t* chip, const chip_byte_t* b) {
    std::array<char, 32> until{};
    std::array<char, 32> span{};
    chip_format_ms(chip->busy_until, 3, until.data(), static_cast<int>(until.size()));
    format_span(chip->busy_for, span.data(), static_cast<int>(span.size()));
    std::array<char, 200> text{};
    std::snprintf(text.data(), text.size(), "%s 0x%02X while busy with %s until %s (%s)",
                  b->kind == CHIP_DATA ? "data" : chip_instruction_name(b->value), b->value,
                  chip->busy_data ? "data" : chip_instruction_name(chip->busy_with), until.data(),
                  span.data());
    chip->config.fault(b, text.data(), chip->config.fault_ctx);
}

[[gnu::noinline]] void reset_fault(const chip_t* chip, const chip_byte_t* b, std::int64_t gap,
                                   std::int64_t need) {
    std::array<char, 32> got{};
    std::array<char, 32> want{};
    format_span(gap, got.data(), static_cast<int>(got.size()));
    format_span(need, want.data(), static_cast<int>(want.size()));
    std::array<char, 200> text{};
    std::snprintf(text.data(), text.size(),
                  "reset by instruction: function set %d came %s after the %s, under %s",
                  chip->reset_sets + 1, got.data(), chip->reset_sets == 1 ? "first" : "second",
                  want.data());
    chip->config.fault(b, text.data(), chip->config.fault_ctx);
}

// The reset by instruction: function sets with DL = 1 in a row must be 4.1 ms, then 100 us
// apart. Any other instruction ends the row.
void check_reset(chip_t* chip, const chip_byte_t* b) {
    const bool eight_bit_set = b->kind == CHIP_INSTRUCTION && (b->value & 0xF0) == 0x30;
    if (!eight_bit_set) {
        if (b->kind == CHIP_INSTRUCTION) {
            chip->reset_sets = 0;
        }
        return;
    }
    if (chip->reset_sets == 1 || chip->reset_sets == 2) {
        // Times only grow within a source, but a gap is never allowed to overflow.
        const std::int64_t gap =
            chip->reset_set_at < 0 && b->time_ps > INT64_MAX + chip->reset_set_at
                ? INT64_MAX
                : b->time_ps - chip->reset_set_at;
        const std::int64_t need =
            chip->reset_sets == 1 ? FIRST_RESET_WAIT_PS : SECOND_RESET_WAIT_PS;
        if (gap < need && chip->config.fault != nullptr) {
            reset_fault(chip, b, gap, need);
        }
    }
    ++chip->reset_sets;
    chip->reset_set_at = b->time_ps;
}

// A whole byte: judged against the busy time, then run when taken.
void complete(chip_t* chip, chip_byte_t* b) {
    const bool writes = b->kind == CHIP_INSTRUCTION || b->kind == CHIP_DATA;
    const bool accepted = !writes || b->time_ps >= chip->busy_until;
    if (!accepted && chip->config.fault != nullptr) {
        busy_fault(chip, b);
    }
    if (accepted) {
        check_reset(chip, b);
    }
    if (accepted && writes) {
        chip->busy_for =
            long_execution(b->value, b->kind == CHIP_DATA) ? chip->long_ps : chip->short_ps;
        // A trace may end near the largest time: busy then lasts to its end.
        chip->busy_until =
            b->time_ps > INT64_MAX - chip->busy_for ? INT64_MAX : b->time_ps + chip->busy_for;
        chip->busy_with = b->value;
        chip->busy_data = b->kind == CHIP_DATA;
    }
    b->while_busy = !accepted;
    b->taken = accepted || !chip->config.chip_timing;
    b->answer = 0;
    if (!b->taken) {
        return;
    }
    switch (b->kind) {
    case CHIP_INSTRUCTION:
        execute_instruction(chip, b->value);
        break;
    case CHIP_DATA:
        execute_data(chip, b->value);
        break;
    case CHIP_READ_BUSY:
        b->answer = chip_read_busy(chip, b->time_ps);
        break;
    default:
        b->answer = chip_read_data(chip, b->time_ps);
        break;
    }
}

} // namespace

void chip_reset(chip_t* chip, const chip_config_t* config) {
    // Display clear.
    chip->ddram.fill(BLANK);
    chip->ac = 0;
    chip->ac_in_cgram = false;
    chip->shift = 0;
    // Function set: DL = 1, N = 0, F = 0.
    chip->eight_bit = true;
    chip->two_lines = false;
    chip->tall_font = false;
    // Display on/off control: D = 0, C = 0, B = 0.
    chip->display_on = false;
    chip->cursor_on = false;
    chip->blink_on = false;
    // Entry mode set: I/D = 1, S = 0.
    chip->increment = true;
    chip->shift_on_write = false;
    // What the datasheet leaves open.
    chip->cgram.fill(0);
    chip->data_register = 0;
    chip->nibble_pending = false;
    chip->high_nibble = 0;
    chip->pending_rs = false;
    chip->pending_rw = false;
    // Time.
    chip->config =
        config != nullptr ? *config : chip_config_t{false, CHIP_DEFAULT_FOSC_KHZ, nullptr, nullptr};
    if (chip->config.fosc_khz < CHIP_MIN_FOSC_KHZ || chip->config.fosc_khz > CHIP_MAX_FOSC_KHZ) {
        chip->config.fosc_khz = CHIP_DEFAULT_FOSC_KHZ;
    }
    chip->short_ps = chip_execution_ps(0x80, false, chip->config.fosc_khz);
    chip->long_ps = chip_execution_ps(0x01, false, chip->config.fosc_khz);
    chip->busy_until = NEVER;
    chip->busy_for = 0;
    chip->busy_with = 0;
    chip->busy_data = false;
    chip->reset_sets = 0;
    chip->reset_set_at = NEVER;
}

// A byte whose two halves disagree on RS or RW is taken with the first half's: that is the
// edge that started the transfer, and the second merely completes it.
bool chip_event(chip_t* chip, const chip_event_t* event, chip_byte_t* byte) {
    unsigned char kind = event->kind;
    unsigned char value = event->value;
    if (kind == CHIP_BUS) {
        bool rs = (event->flags & CHIP_FLAG_RS) != 0;
        bool rw = (event->flags & CHIP_FLAG_RW) != 0;
        if (!chip->eight_bit) { // the one 4-bit pairing
            if (!chip->nibble_pending) {
                chip->nibble_pending = true;
                chip->high_nibble = static_cast<unsigned char>(value >> 4);
                chip->pending_rs = rs;
                chip->pending_rw = rw;
                return false;
            }
            chip->nibble_pending = false;
            value = static_cast<unsigned char>((chip->high_nibble << 4) | (value >> 4));
            rs = chip->pending_rs;
            rw = chip->pending_rw;
        }
        kind = rw ? (rs ? CHIP_READ_DATA : CHIP_READ_BUSY) : (rs ? CHIP_DATA : CHIP_INSTRUCTION);
    } else if (kind > CHIP_READ_DATA) {
        return false; // no such event
    }
    *byte = chip_byte_t{event->time_ps, event->line, event->chip, kind, value, false, false, 0};
    complete(chip, byte);
    return true;
}

unsigned char chip_read_busy(const chip_t* chip, std::int64_t time_ps) {
    const unsigned char bf = chip_busy(chip, time_ps) ? 0x80 : 0x00;
    return static_cast<unsigned char>(bf | (chip->ac & DDRAM_MASK));
}

unsigned char chip_read_data(chip_t* chip, std::int64_t /*time_ps*/) {
    chip->data_register = memory_at_counter(chip);
    step_counter(chip, chip->increment);
    return chip->data_register;
}

bool chip_busy(const chip_t* chip, std::int64_t time_ps) {
    return chip->config.chip_timing && time_ps < chip->busy_until;
}

std::int64_t chip_execution_ps(unsigned char instruction, bool data, int fosc_khz) {
    const bool long_one = long_execution(instruction, data);
    const std::int64_t at_270 = long_one ? LONG_EXECUTION_PS : SHORT_EXECUTION_PS;
    return at_270 * DATASHEET_FOSC_KHZ / (fosc_khz > 0 ? fosc_khz : DATASHEET_FOSC_KHZ);
}

const char* chip_instruction_name(unsigned char instruction) {
    return OP_NAMES[static_cast<std::size_t>(decode(instruction))];
}

int chip_address_at(const chip_t* chip, int line, int position) {
    return chip_window_address(chip->two_lines, chip->shift, line, position);
}

int chip_window_address(bool two_lines, int shift, int line, int position) {
    const int ring = two_lines ? CHIP_TWO_LINE_LENGTH : CHIP_ONE_LINE_LENGTH;
    const int lines = two_lines ? 2 : 1;
    if (line < 0 || line >= lines || position < 0 || position >= ring) {
        return -1;
    }
    const int moved = ((shift % SHIFT_RING) + SHIFT_RING) % SHIFT_RING;
    return line * CHIP_LINE2_BASE + (position + moved) % ring;
}

const unsigned char* chip_glyph(const chip_t* chip, unsigned char code) {
    return &chip->cgram[static_cast<unsigned>(code & 7) * CHIP_GLYPH_ROWS];
}

std::int64_t chip_ps_of_us(std::int64_t time_us) {
    if (time_us > INT64_MAX / CHIP_PS_PER_US) {
        return INT64_MAX;
    }
    if (time_us < INT64_MIN / CHIP_PS_PER_US) {
        return INT64_MIN;
    }
    return time_us * CHIP_PS_PER_US;
}

void chip_format_ms(std::int64_t ps, int decimals, char* out, int capacity) {
    const bool negative = ps < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(ps) : static_cast<std::uint64_t>(ps);
    const std::uint64_t whole = magnitude / 1000000000u;
    std::array<char, 16> fraction{};
    std::snprintf(fraction.data(), fraction.size(), "%09llu",
                  static_cast<unsigned long long>(magnitude % 1000000000u));
    fraction[static_cast<std::size_t>(decimals < 1 ? 1 : decimals > 9 ? 9 : decimals)] = '\0';
    std::snprintf(out, static_cast<std::size_t>(capacity), "%s%llu.%s", negative ? "-" : "",
                  static_cast<unsigned long long>(whole), fraction.data());
    if (decimals <= 3) { // spans: trailing zeros go
        std::size_t n = std::strlen(out);
        while (n > 0 && out[n - 1] == '0') {
            out[--n] = '\0';
        }
        if (n > 0 && out[n - 1] == '.') {
            out[--n] = '\0';
        }
    }
    const std::size_t n = std::strlen(out);
    if (n + 4 < static_cast<std::size_t>(capacity)) {
        std::strcat(out, " ms");
    }
}

} // namespace vimbra
