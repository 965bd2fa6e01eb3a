// A stand-in for a character LCD driver, for testing firmware on the host: the calls that
// firmware makes write the bytes a driver would send to the module as a vimbracli command
// log (`cmd 0x..`, `data 0x..` and `wait ..us` lines), which vimbracli can turn into
// pictures. Header-only, standard C++17 and up.
//
//     std::uint64_t now = 0; // microseconds, advanced by the test
//     vimbra::lcd_shim lcd(std::cout, [&now] { return now; });
//     lcd.begin(16, 2);
//     lcd.print("Hello");
//
// The clock is the caller's: before each call the time passed since the previous one (or
// since construction) becomes a wait line, so the log replays at the firmware's pace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <utility>

namespace vimbra {

class lcd_shim {
  public:
    // Microseconds since any fixed moment; never decreasing.
    using clock_fn = std::function<std::uint64_t()>;

    lcd_shim(std::ostream& out, clock_fn clock)
        : out_(out), clock_(std::move(clock)), last_(clock_ ? clock_() : 0) {}

    // Function set for one line or more (8-bit bus, 5 x 8 dots), display on, clear, entry
    // mode left to right. `cols` gives the start of lines 3 and 4.
    void begin(std::uint8_t cols, std::uint8_t rows) {
        cols_ = cols;
        rows_ = rows == 0 ? 1 : rows;
        control_ = DISPLAY_ON;
        entry_ = ENTRY_LEFT_TO_RIGHT;
        const std::uint8_t bytes[] = {static_cast<std::uint8_t>(rows > 1 ? 0x38 : 0x30),
                                      control_byte(), 0x01, entry_byte()};
        emit("cmd", bytes, sizeof bytes);
    }
    void clear() { command(0x01); }
    void home() { command(0x02); }
    // Moves to (col, row); rows past the last one go to the last, as drivers do.
    void setCursor(std::uint8_t col, std::uint8_t row) {
        if (row >= rows_) {
            row = static_cast<std::uint8_t>(rows_ - 1);
        }
        if (row > 3) {
            row = 3;
        }
        const unsigned offsets[4] = {0x00, 0x40, 0x00U + cols_, 0x40U + cols_};
        command(static_cast<std::uint8_t>(0x80U | ((col + offsets[row]) & 0x7FU)));
    }
    // The bytes of the text, as they are: the module's codes, not UTF-8 mapped. Returns
    // the number of bytes sent.
    std::size_t print(const char* text) {
        std::size_t n = 0;
        while (text != nullptr && text[n] != '\0') {
            ++n;
        }
        emit("data", reinterpret_cast<const std::uint8_t*>(text), n);
        return n;
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
    std::size_t write(std::uint8_t code) {
        emit("data", &code, 1);
        return 1;
    }
    // Defines user glyph `location` (0..7) from eight rows, top first, the low five bits of
    // each. Leaves the address counter in glyph memory: set the cursor or clear afterwards.
    void createChar(std::uint8_t location, const std::uint8_t rows[8]) {
        command(static_cast<std::uint8_t>(0x40U | (location & 7U) << 3));
        emit("data", rows, 8);
    }
    void display() { set_control(DISPLAY_ON, true); }
    void noDisplay() { set_control(DISPLAY_ON, false); }
    void cursor() { set_control(CURSOR_ON, true); }
    void noCursor() { set_control(CURSOR_ON, false); }
    void blink() { set_control(BLINK_ON, true); }
    void noBlink() { set_control(BLINK_ON, false); }
    void scrollDisplayLeft() { command(0x18); }
    void scrollDisplayRight() { command(0x1C); }
    void leftToRight() { set_entry(ENTRY_LEFT_TO_RIGHT, true); }
    void rightToLeft() { set_entry(ENTRY_LEFT_TO_RIGHT, false); }
    void autoscroll() { set_entry(ENTRY_SHIFT, true); }
    void noAutoscroll() { set_entry(ENTRY_SHIFT, false); }
    // Any instruction byte, as it is.
    void command(std::uint8_t value) { emit("cmd", &value, 1); }
    // Writes the time passed since the last call as a wait line: call it at the end, so that
    // the last picture lasts as long as the firmware showed it.
    void sync() { pass_time(); }

  private:
    static constexpr std::uint8_t DISPLAY_ON = 0x04;
    static constexpr std::uint8_t CURSOR_ON = 0x02;
    static constexpr std::uint8_t BLINK_ON = 0x01;
    static constexpr std::uint8_t ENTRY_LEFT_TO_RIGHT = 0x02;
    static constexpr std::uint8_t ENTRY_SHIFT = 0x01;

    std::uint8_t control_byte() const { return static_cast<std::uint8_t>(0x08U | control_); }
    std::uint8_t entry_byte() const { return static_cast<std::uint8_t>(0x04U | entry_); }
    void set_control(std::uint8_t bit, bool on) {
        control_ = static_cast<std::uint8_t>(on ? control_ | bit : control_ & ~bit);
        command(control_byte());
    }
    void set_entry(std::uint8_t bit, bool on) {
        entry_ = static_cast<std::uint8_t>(on ? entry_ | bit : entry_ & ~bit);
        command(entry_byte());
    }
    void pass_time() {
        const std::uint64_t now = clock_ ? clock_() : last_;
        if (now > last_) {
            out_ << "wait " << (now - last_) << "us\n";
            last_ = now;
        }
    }
    // One line of `kind` and the bytes; nothing for no bytes.
    void emit(const char* kind, const std::uint8_t* bytes, std::size_t count) {
        pass_time();
        if (count == 0) {
            return;
        }
        out_ << kind;
        for (std::size_t i = 0; i < count; ++i) {
            char hex[8];
            std::snprintf(hex, sizeof hex, " 0x%02X", static_cast<unsigned>(bytes[i]));
            out_ << hex;
        }
        out_ << '\n';
    }

    std::ostream& out_;
    clock_fn clock_;
    std::uint64_t last_;
    std::uint8_t cols_ = 16;
    std::uint8_t rows_ = 1;
    std::uint8_t control_ = 0;
    std::uint8_t entry_ = ENTRY_LEFT_TO_RIGHT;
};

} // namespace vimbra
