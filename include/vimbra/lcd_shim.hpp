// A stand-in for a character LCD driver, for testing firmware on the host: the calls that
// firmware makes become the bytes a driver would send to the module, as events for a sink.
// The default sink writes them as a vimbracli command log (`module COLSxROWS` from `begin`,
// `cmd 0x..`, `data 0x..`, `wait ..us` and `mark NAME` lines), which vimbracli can turn into
// pictures. Header-only, standard C++17 and up.
//
//     std::uint64_t now = 0; // microseconds, advanced by the test
//     vimbra::lcd_shim lcd(std::cout, [&now] { return now; });
//     lcd.begin(16, 2);
//     lcd.print("Hello");
//
// The clock is the caller's: before each call the time passed since the previous one (or
// since construction) becomes a wait line, so the log replays at the firmware's pace.
//
// A module of more than 80 cells (40 x 4) has two controllers: `begin` sets up both, the
// upper half of the rows is the first one's and the rest the second's, and the log gets a
// `controller 1` or `controller 2` line whenever the bytes go to the other one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <utility>

namespace vimbra {

enum class lcd_event_kind : std::uint8_t {
    instruction, // bytes with RS = 0, to `chip`
    data,        // bytes with RS = 1, to `chip`
    wait,        // `us` microseconds pass
    mark,        // a named moment: `name`
    module,      // the module's geometry: `cols` x `rows`
    backlight,   // the backlight pin: `on`
    controller,  // later bytes go to controller `chip` (modules with two only)
    read_busy,   // read busy flag and address of `chip`: the sink stores BF and AC in *answer
    read_data,   // read data of `chip`: the sink stores the byte read in *answer
};

// One thing the shim sends. The fields that a kind does not name keep their defaults.
struct lcd_event {
    lcd_event_kind kind = lcd_event_kind::instruction;
    std::uint8_t chip = 1;               // 1 or 2
    const std::uint8_t* bytes = nullptr; // the bytes of one call, in the order sent
    std::size_t count = 0;               // at least 1 for instruction and data
    std::uint64_t us = 0;
    const char* name = nullptr; // valid by lcd_mark_name_ok
    std::uint8_t cols = 0;
    std::uint8_t rows = 0;
    bool on = false;
    std::uint8_t* answer = nullptr; // where a read's answer goes (never null for reads)
};

// Receives every event, with the context given with it.
using lcd_sink = void (*)(const lcd_event& event, void* context);

// A mark's name: 1 to 64 letters, digits, '_', '-' and '.', so that it is one word of a log
// line.
inline bool lcd_mark_name_ok(const char* name) {
    if (name == nullptr) {
        return false;
    }
    std::size_t n = 0;
    for (; name[n] != '\0'; ++n) {
        const char c = name[n];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!ok || n == 64) {
            return false;
        }
    }
    return n > 0;
}

// Appends the command log line of `event`, line end included; nothing for an event that
// has no line (no bytes, no time, a name that is not valid).
inline void lcd_event_text(const lcd_event& event, std::string& out) {
    char text[48];
    switch (event.kind) {
    case lcd_event_kind::instruction:
    case lcd_event_kind::data:
        if (event.bytes == nullptr || event.count == 0) {
            return;
        }
        out += event.kind == lcd_event_kind::instruction ? "cmd" : "data";
        for (std::size_t i = 0; i < event.count; ++i) {
            std::snprintf(text, sizeof text, " 0x%02X", static_cast<unsigned>(event.bytes[i]));
            out += text;
        }
        out += '\n';
        return;
    case lcd_event_kind::wait:
        if (event.us > 0) {
            std::snprintf(text, sizeof text, "wait %lluus\n",
                          static_cast<unsigned long long>(event.us));
            out += text;
        }
        return;
    case lcd_event_kind::mark:
        if (lcd_mark_name_ok(event.name)) {
            out += "mark ";
            out += event.name;
            out += '\n';
        }
        return;
    case lcd_event_kind::module:
        std::snprintf(text, sizeof text, "module %ux%u\n", static_cast<unsigned>(event.cols),
                      static_cast<unsigned>(event.rows));
        out += text;
        return;
    case lcd_event_kind::backlight:
        out += event.on ? "backlight on\n" : "backlight off\n";
        return;
    case lcd_event_kind::controller:
        std::snprintf(text, sizeof text, "controller %u\n", static_cast<unsigned>(event.chip));
        out += text;
        return;
    case lcd_event_kind::read_busy:
        out += "read busy\n";
        return;
    case lcd_event_kind::read_data:
        out += "read data\n";
        return;
    }
}

// The default sink: the log line of each event to the std::ostream that `context` points at.
// A log has no chip to ask, so a read is answered as a replay under ideal timing reads BF, and
// as no more: 0 (not busy, and nothing known of the counter or the memory), so that a driver
// polling BF goes on.
inline void lcd_write_text(const lcd_event& event, void* context) {
    if ((event.kind == lcd_event_kind::read_busy || event.kind == lcd_event_kind::read_data) &&
        event.answer != nullptr) {
        *event.answer = 0;
    }
    std::string line;
    lcd_event_text(event, line);
    if (!line.empty() && context != nullptr) {
        *static_cast<std::ostream*>(context) << line;
    }
}

class lcd_shim {
  public:
    // Microseconds since any fixed moment; never decreasing.
    using clock_fn = std::function<std::uint64_t()>;

    // Writes the command log to `out`.
    lcd_shim(std::ostream& out, clock_fn clock)
        : lcd_shim(&lcd_write_text, &out, std::move(clock)) {}
    // Sends every event to `sink`. Without a clock no time passes: no wait events.
    lcd_shim(lcd_sink sink, void* context, clock_fn clock = {})
        : sink_(sink), context_(context), clock_(std::move(clock)), last_(clock_ ? clock_() : 0) {}

    // The geometry alone, nothing sent: `cols` gives the start of rows 3 and 4, and more than
    // 80 cells take two controllers. `begin` does this first.
    void configure(std::uint8_t cols, std::uint8_t rows) {
        cols_ = cols;
        rows_ = rows == 0 ? 1 : rows;
        chips_ = static_cast<unsigned>(cols_) * rows_ > 80 ? 2 : 1;
        upper_rows_ = chips_ == 2 ? static_cast<std::uint8_t>((rows_ + 1) / 2) : rows_;
        const unsigned offsets[4] = {0x00, 0x40, 0x00U + cols_, 0x40U + cols_};
        for (int i = 0; i < 4; ++i) {
            offsets_[i] = offsets[i];
        }
        selected_ = 1;
    }
    // A `module COLSxROWS` line, then function set for one line or more (8-bit bus, 5 x 8
    // dots), display on, clear, entry mode left to right, to every controller.
    void begin(std::uint8_t cols, std::uint8_t rows) {
        begin(cols, rows, static_cast<std::uint8_t>(rows > 1 ? 0x38 : 0x30));
    }
    // The same with the function set byte given (0x28 for a 4-bit bus, for example); with
    // two controllers each drives two lines whatever `function_set` says of N.
    void begin(std::uint8_t cols, std::uint8_t rows, std::uint8_t function_set) {
        configure(cols, rows);
        if (announced_cols_ != cols_ || announced_rows_ != rows_) {
            announce_module();
        }
        control_ = DISPLAY_ON;
        entry_ = ENTRY_LEFT_TO_RIGHT;
        if (chips_ == 2) {
            function_set = static_cast<std::uint8_t>(function_set | 0x08U);
        }
        const std::uint8_t bytes[] = {function_set, control_byte(1), 0x01, entry_byte()};
        for (std::uint8_t chip = 1; chip <= chips_; ++chip) {
            emit(lcd_event_kind::instruction, chip, bytes, sizeof bytes);
        }
    }
    void clear() {
        select(1);
        command_all(0x01);
    }
    void home() {
        select(1);
        command_all(0x02);
    }
    // Moves to (col, row); rows past the last one go to the last, as drivers do.
    void setCursor(std::uint8_t col, std::uint8_t row) {
        if (row >= rows_) {
            row = static_cast<std::uint8_t>(rows_ - 1);
        }
        std::uint8_t chip = 1;
        if (row >= upper_rows_) {
            chip = 2;
            row = static_cast<std::uint8_t>(row - upper_rows_);
        }
        if (row > 3) {
            row = 3;
        }
        select(chip);
        command(static_cast<std::uint8_t>(0x80U | ((col + offsets_[row]) & 0x7FU)));
    }
    // The address each row starts at, for modules wired otherwise (one controller).
    void setRowOffsets(int row0, int row1, int row2, int row3) {
        const int offsets[4] = {row0, row1, row2, row3};
        for (int i = 0; i < 4; ++i) {
            offsets_[i] = static_cast<unsigned>(offsets[i]) & 0x7FU;
        }
    }
    // The bytes of the text, as they are: the module's codes, not UTF-8 mapped. Returns
    // the number of bytes sent.
    std::size_t print(const char* text) {
        std::size_t n = 0;
        while (text != nullptr && text[n] != '\0') {
            ++n;
        }
        return write(reinterpret_cast<const std::uint8_t*>(text), n);
    }
    std::size_t print(char c) { return write(static_cast<std::uint8_t>(c)); }
    // Numbers in decimal.
    std::size_t print(int value) { return print(static_cast<long long>(value)); }
    std::size_t print(long value) { return print(static_cast<long long>(value)); }
    std::size_t print(unsigned value) { return print(static_cast<unsigned long long>(value)); }
    std::size_t print(unsigned long value) { return print(static_cast<unsigned long long>(value)); }
    std::size_t print(long long value) {
        char text[24];
        std::snprintf(text, sizeof text, "%lld", value);
        return print(static_cast<const char*>(text));
    }
    std::size_t print(unsigned long long value) {
        char text[24];
        std::snprintf(text, sizeof text, "%llu", value);
        return print(static_cast<const char*>(text));
    }
    std::size_t write(std::uint8_t code) { return write(&code, 1); }
    // Data bytes in one go, to the controller of the cursor's row.
    std::size_t write(const std::uint8_t* bytes, std::size_t count) {
        emit(lcd_event_kind::data, selected_, bytes, bytes == nullptr ? 0 : count);
        return bytes == nullptr ? 0 : count;
    }
    // Defines user glyph `location` (0..7) from eight rows, top first, the low five bits of
    // each, in every controller. Leaves the address counter in glyph memory: set the cursor
    // or clear afterwards.
    void createChar(std::uint8_t location, const std::uint8_t rows[8]) {
        const std::uint8_t address = static_cast<std::uint8_t>(0x40U | (location & 7U) << 3);
        for_each_chip([&](std::uint8_t chip) {
            emit(lcd_event_kind::instruction, chip, &address, 1);
            emit(lcd_event_kind::data, chip, rows, rows == nullptr ? 0 : 8);
        });
    }
    void display() { set_control(DISPLAY_ON, true); }
    void noDisplay() { set_control(DISPLAY_ON, false); }
    void cursor() { set_control(CURSOR_ON, true); }
    void noCursor() { set_control(CURSOR_ON, false); }
    void blink() { set_control(BLINK_ON, true); }
    void noBlink() { set_control(BLINK_ON, false); }
    void scrollDisplayLeft() { command_all(0x18); }
    void scrollDisplayRight() { command_all(0x1C); }
    void leftToRight() { set_entry(ENTRY_LEFT_TO_RIGHT, true); }
    void rightToLeft() { set_entry(ENTRY_LEFT_TO_RIGHT, false); }
    void autoscroll() { set_entry(ENTRY_SHIFT, true); }
    void noAutoscroll() { set_entry(ENTRY_SHIFT, false); }
    // Any instruction byte, as it is, to the controller of the cursor's row.
    void command(std::uint8_t value) { emit(lcd_event_kind::instruction, selected_, &value, 1); }
    // Any instruction byte to every controller.
    void command_all(std::uint8_t value) {
        for_each_chip(
            [&](std::uint8_t chip) { emit(lcd_event_kind::instruction, chip, &value, 1); });
    }
    // Reads of the controller of the cursor's row, answered by the sink: BF (bit 7) and the
    // address counter; the byte at the address counter, which then steps.
    std::uint8_t read_busy_address() { return read(lcd_event_kind::read_busy); }
    std::uint8_t read_data() { return read(lcd_event_kind::read_data); }
    // A `mark NAME` line, a moment that a replay can be asked for by name. A name that
    // lcd_mark_name_ok refuses writes nothing and gives false.
    bool mark(const char* name) {
        if (!lcd_mark_name_ok(name)) {
            return false;
        }
        pass_time();
        lcd_event event;
        event.kind = lcd_event_kind::mark;
        event.name = name;
        send(event);
        return true;
    }
    // A `module COLSxROWS` line with the geometry of the last begin or configure. `begin`
    // writes it unless the last one written named the same geometry, so that a driver may
    // announce the module before its own reset sequence.
    void announce_module() {
        announced_cols_ = cols_;
        announced_rows_ = rows_;
        pass_time();
        lcd_event event;
        event.kind = lcd_event_kind::module;
        event.cols = cols_;
        event.rows = rows_;
        send(event);
    }
    // A `backlight on` or `backlight off` line.
    void backlight(bool on) {
        pass_time();
        lcd_event event;
        event.kind = lcd_event_kind::backlight;
        event.on = on;
        send(event);
    }
    // Writes the time passed since the last call as a wait line: call it at the end, so that
    // the last picture lasts as long as the firmware showed it.
    void sync() { pass_time(); }

    std::uint8_t cols() const { return cols_; }
    std::uint8_t rows() const { return rows_; }
    // 1, or 2 on a module of more than 80 cells.
    unsigned controllers() const { return chips_; }

  private:
    static constexpr std::uint8_t DISPLAY_ON = 0x04;
    static constexpr std::uint8_t CURSOR_ON = 0x02;
    static constexpr std::uint8_t BLINK_ON = 0x01;
    static constexpr std::uint8_t ENTRY_LEFT_TO_RIGHT = 0x02;
    static constexpr std::uint8_t ENTRY_SHIFT = 0x01;

    // Only the controller of the cursor's row shows the cursor and the blink; the other one
    // keeps the display bit alone, so that a 40 x 4 never shows two cursors.
    std::uint8_t control_byte(std::uint8_t chip) const {
        const unsigned bits = chip == selected_ ? control_ : control_ & DISPLAY_ON;
        return static_cast<std::uint8_t>(0x08U | bits);
    }
    std::uint8_t entry_byte() const { return static_cast<std::uint8_t>(0x04U | entry_); }
    // The controller whose row the cursor moves to; the cursor and the blink go with it.
    void select(std::uint8_t chip) {
        if (chip == selected_ || chip > chips_) {
            return;
        }
        const std::uint8_t before = selected_;
        selected_ = chip;
        if ((control_ & (CURSOR_ON | BLINK_ON)) != 0) {
            const std::uint8_t off = control_byte(before);
            emit(lcd_event_kind::instruction, before, &off, 1);
            const std::uint8_t on = control_byte(chip);
            emit(lcd_event_kind::instruction, chip, &on, 1);
        }
    }
    void set_control(std::uint8_t bit, bool on) {
        control_ = static_cast<std::uint8_t>(on ? control_ | bit : control_ & ~bit);
        if (bit == DISPLAY_ON) {
            for_each_chip([&](std::uint8_t chip) {
                const std::uint8_t byte = control_byte(chip);
                emit(lcd_event_kind::instruction, chip, &byte, 1);
            });
        } else {
            command(control_byte(selected_));
        }
    }
    void set_entry(std::uint8_t bit, bool on) {
        entry_ = static_cast<std::uint8_t>(on ? entry_ | bit : entry_ & ~bit);
        command_all(entry_byte());
    }
    // Every controller, the one the log last addressed first, so that a 40 x 4 log switches
    // controllers as seldom as it can.
    template <typename F> void for_each_chip(F f) {
        f(last_chip_);
        if (chips_ == 2) {
            f(static_cast<std::uint8_t>(3 - last_chip_));
        }
    }
    void pass_time() {
        const std::uint64_t now = clock_ ? clock_() : last_;
        if (now > last_) {
            lcd_event event;
            event.kind = lcd_event_kind::wait;
            event.us = now - last_;
            send(event);
            last_ = now;
        }
    }
    void send(const lcd_event& event) {
        if (sink_ != nullptr) {
            sink_(event, context_);
        }
    }
    // A controller event when `chip` is not the one the log last addressed.
    void address(std::uint8_t chip) {
        if (chip != last_chip_) {
            lcd_event event;
            event.kind = lcd_event_kind::controller;
            event.chip = chip;
            send(event);
            last_chip_ = chip;
        }
    }
    std::uint8_t read(lcd_event_kind kind) {
        pass_time();
        address(selected_);
        std::uint8_t answer = 0;
        lcd_event event;
        event.kind = kind;
        event.chip = selected_;
        event.answer = &answer;
        send(event);
        return answer;
    }
    // One event of `kind` and the bytes, to `chip`; nothing for no bytes.
    void emit(lcd_event_kind kind, std::uint8_t chip, const std::uint8_t* bytes,
              std::size_t count) {
        pass_time();
        if (count == 0) {
            return;
        }
        address(chip);
        lcd_event event;
        event.kind = kind;
        event.chip = chip;
        event.bytes = bytes;
        event.count = count;
        send(event);
    }

    lcd_sink sink_;
    void* context_;
    clock_fn clock_;
    std::uint64_t last_;
    std::uint8_t cols_ = 16;
    std::uint8_t rows_ = 1;
    std::uint8_t chips_ = 1;
    std::uint8_t upper_rows_ = 1;
    std::uint8_t selected_ = 1;  // the controller of the cursor's row
    std::uint8_t last_chip_ = 1; // the controller the log last addressed
    // The last module line's geometry, 0 x 0 before one.
    std::uint8_t announced_cols_ = 0;
    std::uint8_t announced_rows_ = 0;
    unsigned offsets_[4] = {0x00, 0x40, 0x10, 0x50};
    std::uint8_t control_ = 0;
    std::uint8_t entry_ = ENTRY_LEFT_TO_RIGHT;
};

} // namespace vimbra
