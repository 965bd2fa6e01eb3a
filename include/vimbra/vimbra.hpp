// vimbra: character LCD modules in-process, for host-side tests of firmware.
//
// A module comes from a profile and a font (files or text). Rows, a command log or an
// in-process controller driven byte by byte give a screen: its text rows exactly as the
// command line's --text prints them, the cursor and display state, the pixels, PNG bytes and a
// comparison with a reference picture that names the cells that differ.
//
// Screens are found by the marks that firmware sets (`mark NAME` lines of a log, or
// lcd_shim::mark through controller_sink): command_log::screen_at("menu") and
// controller::screen_at("menu"). A comparison updates its reference when asked, or when
// VIMBRA_UPDATE=1 is in the environment, as the command line's --compare --update does.
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
    usage_error,  // a name the call gives is not there: a mark the log lacks
    unwritable,   // a reference picture could not be written
};

// What a call came to: a status and, unless it is ok, one line saying why (an ok result
// may say what it did: "REF: updated").
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
    result outcome;          // ok when equal or updated; `different` names the cells; else why
    std::vector<cell> cells; // the cells with a differing pixel, top row first
    bool outside = false;    // a pixel outside every cell differs
    bool updated = false;    // the reference was missing or differed and has been written
    bool same() const noexcept { return outcome.ok(); }
};

// What a comparison does with a reference that is missing or differs (in cells or in size).
enum class reference_mode {
    check,  // reports it; VIMBRA_UPDATE=1 in the environment makes this `update`
    update, // writes the screen as the reference (PNG for a name ending in .png, else BMP)
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
    bool backlight_on() const noexcept { return backlight_on_; }

    // The picture: width x height pixels of red, green, blue, top row first.
    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }
    const std::vector<unsigned char>& pixels() const noexcept { return pixels_; }
    // The picture as the PNG file the command line writes; empty with a failed result.
    std::vector<unsigned char> png(result* outcome = nullptr) const;
    // Compares with a PNG or 24-bit BMP reference picture of the same size. A missing one is
    // `unreadable` with a hint; when updating, a missing or different one is written and the
    // outcome is ok, "REF: updated" (an equal one is left as it is).
    comparison compare(const std::string& reference_path,
                       reference_mode mode = reference_mode::check) const;

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
    bool backlight_on_ = true;
    int width_ = 0;
    int height_ = 0;
    std::vector<unsigned char> pixels_;
    cell_layout layout_;
};

class module;
struct lcd_event;
class controller;

// A command log read for a module, checked whole once: the screens at its marks and moments.
// Made by module::read_log; it owns a module of its own. Not for two threads at once.
class command_log {
  public:
    command_log();
    command_log(command_log&&) noexcept;
    command_log& operator=(command_log&&) noexcept;
    command_log(const command_log&) = delete;
    command_log& operator=(const command_log&) = delete;
    ~command_log();

    // Why the log was refused (`bad_format`: "line N: ..."); every screen then carries it.
    const result& outcome() const noexcept;
    bool ok() const noexcept { return outcome().ok(); }
    // The marks' names in log order, each once.
    std::vector<std::string> marks() const;
    // The time after its last line, waits included.
    std::int64_t end_us() const noexcept;
    // The display at the mark (its first line of that name). A mark the log lacks is a
    // `usage_error` screen: "no mark 'x' in the log (its marks: a, b)".
    screen screen_at(std::string_view mark) const;
    // The display `at_us` microseconds from the start (negative: at the end).
    screen screen_at_us(std::int64_t at_us) const;
    // What the profile's script printed over the screens.
    const std::string& console_output() const noexcept;

  private:
    friend class module;
    struct state;
    std::unique_ptr<state> state_;
};

// An lcd_sink (vimbra/lcd_shim.hpp) that drives the controller `context` points at instead
// of writing a log: bytes go to the controller their event names (1 or 2), waits advance its
// time, marks are recorded for controller::screen_at and backlight switches it. A module
// line that disagrees with the controller's module is a warning in its console output.
//
//     vimbra::controller lcd = vimbra::module::open(profile).drive();
//     vimbra::lcd_shim shim(vimbra::controller_sink, &lcd, clock);
void controller_sink(const lcd_event& event, void* context);

// How a driven controller keeps time: ideal (every byte runs, BF reads 0), or as the chip
// does at `fosc_khz` (10 to 10000; else 270): a byte sent while it is busy is refused (runs
// nothing) and BF reads 1 until the execution time has passed.
struct drive_options {
    bool chip_timing = false;
    int fosc_khz = 270;
};

// A controller of a module driven in-process, as the firmware's bus would drive it: every
// instruction and data byte goes to the chip at once, at the current time. Reads come back
// at once too, answered by the chip. Made by module::drive; it owns a module of its own.
class controller {
  public:
    controller();
    controller(controller&&) noexcept;
    controller& operator=(controller&&) noexcept;
    controller(const controller&) = delete;
    controller& operator=(const controller&) = delete;
    ~controller();

    // ok until a byte asks for what the picture cannot show (5 x 10 dots), or controller_sink
    // is sent to a controller the module has not; then every later call is ignored and the
    // screens carry this result. A default-made controller drives nothing (bad_argument).
    const result& outcome() const noexcept;
    int chip_count() const noexcept;
    // Which controller the next bytes go to (0, or 1 on a module of more than 80 cells).
    result select_chip(int chip);
    void instruction(std::uint8_t byte); // RS = 0
    void data(std::uint8_t byte);        // RS = 1
    // Several bytes of one kind, as a byte sink of firmware gives them.
    void send(bool is_data, const std::uint8_t* bytes, std::size_t count);
    // BF and the address counter. BF is 1 only under chip timing, while an instruction or a
    // data write is still executing (a clear for 1.52 ms at 270 kHz, say).
    std::uint8_t read_busy_address();
    // The byte at the address counter (DDRAM, or a CGRAM row), which then steps; the first
    // read after an address set gives the byte at that address.
    std::uint8_t read_data();
    // The module's backlight: the screens show it unlit while it is off.
    void backlight(bool on);
    // Names the moment now (1 to 64 letters, digits, '_', '-' and '.'; else bad_argument).
    // A name given again keeps its first moment.
    result mark(std::string_view name);
    // The marks' names in the order given.
    std::vector<std::string> marks() const;
    // The display at the mark: as it was when time moved on from it, or as it is now. A mark
    // not given is a `usage_error` screen that lists those there are.
    screen screen_at(std::string_view mark) const;
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
    friend void controller_sink(const lcd_event& event, void* context);
    struct state;
    std::unique_ptr<state> state_;
};

// A module: a profile and a font, checked once. Each screen is drawn on a fresh picture, so
// no screen leaks into the next.
class module {
  public:
    // Opens a module; a failure is in outcome(), and every later call then carries it.
    static module open(const source& profile, const source& font = source::none());

    // A module not opened: bad_argument, with no rows and no columns, until one is assigned.
    module() = default;

    const result& outcome() const noexcept { return outcome_; }
    bool ok() const noexcept { return outcome_.ok(); }
    int columns() const noexcept { return columns_; }
    int rows() const noexcept { return rows_; }

    // The module showing these rows (row arguments: escapes and, with a CHARSET, UTF-8).
    screen show(const std::vector<std::string>& rows) const;
    // The module after a command log (its text), at `at_us` microseconds (negative: its end).
    screen replay(std::string_view log, std::int64_t at_us = -1) const;
    // The command log (its text) read and checked once, for screens at its marks and moments.
    command_log read_log(std::string_view log) const;
    // An in-process controller over a fresh module, at time 0, under ideal timing.
    controller drive() const;
    // The same with the chip's timing as `options` say.
    controller drive(const drive_options& options) const;

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
    result outcome_{status::bad_argument, "no module: module::open makes one"};
    source profile_;
    source font_;
    int columns_ = 0;
    int rows_ = 0;
    mutable console_buffers console_;
};

} // namespace vimbra
