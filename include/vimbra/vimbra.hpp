// vimbra: character LCD modules in-process, for host-side tests of firmware.
//
// A module comes from a profile and a font (files or text). Rows, a command log or an
// in-process controller driven byte by byte give a screen: its text rows exactly as the
// command line's --text prints them, the cursor and display state, the pixels, PNG bytes and a
// comparison with a reference picture that names the cells that differ.
//
// No exception leaves this header's functions (a shortage of memory is the status no_memory):
// every result carries a status and a message.
// Link with vimbra::vimbra (CMake) or `pkg-config --libs vimbra`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vimbra {

enum class status {
    ok = 0,
    unreadable,   // a named file cannot be read
    bad_setting,  // the profile's settings are refused
    bad_format,   // a row, a log line or a reference picture is malformed
    no_memory,    // memory is short
    different,    // a comparison found a difference
    bad_argument, // the call does not fit the object (a failed module, no such chip)
};

// What a call came to: a status and, unless it is ok, one line saying why.
struct result {
    vimbra::status status = status::ok;
    std::string message;
    bool ok() const noexcept { return status == status::ok; }
    explicit operator bool() const noexcept { return ok(); }
};

// A profile or a font: the file at a path, a text, or nothing (the built-in one).
struct source {
    enum class kind { none, file, text };
    kind from = kind::none;
    std::string value; // the path or the text

    static source none() { return {}; }
    static source file(std::string path) { return {kind::file, std::move(path)}; }
    static source text(std::string text) { return {kind::text, std::move(text)}; }
};

// A character cell, counted from 0: row 0 is the top row, column 0 the left one.
struct cell {
    int row = 0;
    int column = 0;
    friend bool operator==(const cell&, const cell&) = default;
};

// A screen against a reference picture.
struct comparison {
    result outcome;          // ok when equal; `different` names the cells; else why not compared
    std::vector<cell> cells; // the cells with a differing pixel, top row first
    bool outside = false;    // a pixel outside every cell differs
    bool same() const noexcept { return outcome.ok(); }
};

// The display at one moment: a value, independent of the module it came from.
class screen {
  public:
    // Why the screen could not be made; a failed screen has no rows and no pixels.
    const result& outcome() const noexcept { return outcome_; }
    bool ok() const noexcept { return outcome_.ok(); }

    int columns() const noexcept { return columns_; }
    int rows() const noexcept { return static_cast<int>(rows_.size()); }
    // Row `r` as --text prints it (a row argument that reads back as the same codes); empty
    // for a row that does not exist.
    std::string row(int r) const;
    const std::vector<std::string>& text_rows() const noexcept { return rows_; }
    // The whole of --text's output: the rows, then the cursor and display line.
    const std::string& text() const noexcept { return text_; }

    // The cursor's cell, or row and column -1 when none is shown.
    cell cursor() const noexcept { return cursor_; }
    bool display_on() const noexcept { return display_on_; }
    bool cursor_on() const noexcept { return cursor_on_; } // underline cursor
    bool blink_on() const noexcept { return blink_on_; }

    // The picture: width x height pixels of red, green, blue, top row first.
    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }
    const std::vector<unsigned char>& pixels() const noexcept { return pixels_; }
    // The picture as the PNG file the command line writes; empty with a failed result.
    std::vector<unsigned char> png(result* outcome = nullptr) const;
    // Compares with a PNG or 24-bit BMP reference picture of the same size.
    comparison compare(const std::string& reference_path) const;

    // Where the cells lie in the picture (filled in by the library).
    struct cell_layout {
        std::int64_t left = 0, top = 0, cell_width = 0, cell_height = 0, pitch_x = 0, pitch_y = 0;
    };

  private:
    friend struct screen_maker;
    result outcome_;
    int columns_ = 0;
    std::vector<std::string> rows_;
    std::string text_;
    cell cursor_{-1, -1};
    bool display_on_ = true;
    bool cursor_on_ = false;
    bool blink_on_ = false;
    int width_ = 0;
    int height_ = 0;
    std::vector<unsigned char> pixels_;
    cell_layout layout_;
};

class module;

// A controller of a module driven in-process, as the firmware's bus would drive it: every
// instruction and data byte goes to the chip at once, at the current time. Reads come back
// at once too. Made by module::drive; it owns a module of its own.
class controller {
  public:
    controller();
    controller(controller&&) noexcept;
    controller& operator=(controller&&) noexcept;
    controller(const controller&) = delete;
    controller& operator=(const controller&) = delete;
    ~controller();

    // ok until a byte asks for what the picture cannot show (5 x 10 dots); then every later
    // call is ignored and the screens carry this result. A default-made controller drives
    // nothing (bad_argument).
    const result& outcome() const noexcept;
    int chip_count() const noexcept;
    // Which controller the next bytes go to (0, or 1 on a module of more than 80 cells).
    result select_chip(int chip);
    void instruction(std::uint8_t byte); // RS = 0
    void data(std::uint8_t byte);        // RS = 1
    // Several bytes of one kind, as a byte sink of firmware gives them.
    void send(bool is_data, const std::uint8_t* bytes, std::size_t count);
    std::uint8_t read_busy_address(); // BF (always 0 here) and the address counter
    std::uint8_t read_data();         // the byte at the address counter, which then steps
    // Time passes: blink phases follow it. A negative wait is taken as none.
    void wait_us(std::int64_t us);
    // Jumps to a later moment (an earlier one is taken as now).
    void advance_to(std::int64_t time_us);
    std::int64_t now_us() const noexcept;
    // The display now: the module's picture drawn from the controllers.
    screen snapshot() const;
    // What the profile's script printed over the snapshots.
    const std::string& console_output() const noexcept;

  private:
    friend class module;
    struct state;
    std::unique_ptr<state> state_;
};

// A module: a profile and a font, checked once. Each screen is drawn on a fresh picture, so
// no screen leaks into the next.
class module {
  public:
    // Opens a module; a failure is in outcome(), and every later call then carries it.
    static module open(const source& profile, const source& font = source::none());

    module() = default;

    const result& outcome() const noexcept { return outcome_; }
    bool ok() const noexcept { return outcome_.ok(); }
    int columns() const noexcept { return columns_; }
    int rows() const noexcept { return rows_; }

    // The module showing these rows (row arguments: escapes and, with a CHARSET, UTF-8).
    screen show(const std::vector<std::string>& rows) const;
    // The module after a command log (its text), at `at_us` microseconds (negative: its end).
    screen replay(std::string_view log, std::int64_t at_us = -1) const;
    // An in-process controller over a fresh module, at time 0.
    controller drive() const;

    // The console of the profile's script: what it prints (and the runner's messages)
    // collects here over every show and replay, and its `input` reads from the given text.
    const std::string& console_output() const noexcept { return console_.output; }
    void clear_console_output() noexcept { console_.output.clear(); }
    void set_console_input(std::string input) noexcept;

    // The console a run of this module uses (filled in by the library).
    struct console_buffers {
        std::string output;
        std::string input;
        std::size_t input_position = 0;
    };

  private:
    friend struct screen_maker;
    result outcome_;
    source profile_;
    source font_;
    int columns_ = 0;
    int rows_ = 0;
    mutable console_buffers console_;
};

} // namespace vimbra
