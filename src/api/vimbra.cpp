// The C++ API: a front end over the library's records, as the command line is one.
#include "vimbra/vimbra.hpp"

#include "vimbra/lcd_shim.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/console.hpp"
#include "base/shown.hpp"
#include "bmp/bmptypes.hpp"
#include "chip/charset.hpp"
#include "chip/cmdlog.hpp"
#include "chip/replay.hpp"
#include "job/job.hpp"
#include "job/refpic.hpp"
#include "job/screen.hpp"
#include "job/snapshot.hpp"
#include "lcd/lcdimg.hpp"
#include "lcd/rowtext.hpp"

namespace vimbra {

namespace {

constexpr int REPORT_CELLS = 10; // cells named in a difference's message, as the tool names them
const char* const NO_MEMORY_TEXT = "Memory Allocation Error.";

struct image_closer {
    void operator()(lcdimg_t* img) const { lcdimg_close(img); }
};
using image_ptr = std::unique_ptr<lcdimg_t, image_closer>;

result failure(status code, std::string message) {
    return {code, std::move(message)};
}

result no_memory() {
    return {status::no_memory, NO_MEMORY_TEXT};
}

// Keeps the job's last message line, which becomes a result's message.
void keep_line(const char* line, void* ctx) {
    try {
        *static_cast<std::string*>(ctx) = line;
    } catch (const std::bad_alloc&) {
        static_cast<std::string*>(ctx)->clear();
    }
}

// The result of a job's status, with the line it said.
result job_result(job_status_t code, const std::string& said) {
    switch (code) {
    case JOB_NO_MEMORY:
        return no_memory();
    case JOB_BAD_INPUT:
        return failure(status::unreadable, said);
    case JOB_BAD_SETTING:
        return failure(status::bad_setting, said);
    default:
        return failure(status::bad_format, said);
    }
}

int append_output(const char* bytes, std::size_t count, void* ctx) {
    if (count == 0) {
        return 0;
    }
    try {
        static_cast<module::console_buffers*>(ctx)->output.append(bytes, count);
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

int next_input(void* ctx) {
    auto* buffers = static_cast<module::console_buffers*>(ctx);
    if (buffers->input_position >= buffers->input.size()) {
        return -1;
    }
    return static_cast<unsigned char>(buffers->input[buffers->input_position++]);
}

console_t console_over(module::console_buffers* buffers) {
    return {append_output, buffers, next_input, buffers};
}

lcdimg_source_t source_of(const source& s) {
    if (s.from == source::kind::file) {
        return {s.value.c_str(), nullptr, 0};
    }
    return {nullptr, s.value.data(), s.value.size()};
}

// An empty path fails before any system call sets errno.
std::string reason(int error) {
    return std::strerror(error != 0 ? error : ENOENT);
}

// A fresh picture of the module: its settings, glyphs and an empty text grid.
result open_image(const source& profile, const source& font, image_ptr* out) {
    const lcdimg_source_t p = source_of(profile);
    const lcdimg_source_t f = source_of(font);
    std::array<char, LCDIMG_SETTING_MESSAGE_CAPACITY> message{};
    lcdimg_t* img = nullptr;
    errno = 0;
    const int opened = lcdimg_open_from(profile.from != source::kind::none ? &p : nullptr,
                                        font.from != source::kind::none ? &f : nullptr, &img,
                                        message.data(), static_cast<int>(message.size()));
    const int error = errno;
    out->reset(img);
    switch (opened) {
    case LCDIMG_OPENED:
        return {};
    case LCDIMG_OPEN_PROFILE_UNREADABLE:
        return failure(status::unreadable,
                       profile.value + ": cannot read the profile: " + reason(error));
    case LCDIMG_OPEN_FONT_UNREADABLE:
        return failure(status::unreadable, font.value + ": cannot read the font: " + reason(error));
    case LCDIMG_OPEN_BAD_SETTING:
        return failure(status::bad_setting, message.data());
    default:
        return no_memory();
    }
}

// A command log shows a character ROM: without a CHARSET, A00, with the font on top.
result use_rom(lcdimg_t* img, const source& font) {
    if (img->charset != nullptr) {
        return {};
    }
    const lcdimg_source_t f = source_of(font);
    if (lcdimg_use_charset_from(img, charset_find("A00"),
                                font.from != source::kind::none ? &f : nullptr) != 0) {
        return failure(status::unreadable, font.value + ": cannot read the font: " + reason(errno));
    }
    return {};
}

} // namespace

// Builds screens from a rendered picture; a friend of screen.
struct screen_maker {
    static screen failed(result outcome) {
        screen s;
        s.outcome_ = std::move(outcome);
        return s;
    }

    static screen of(const lcdimg_t* img, const replay_status_t* status) {
        screen s;
        if (screen_text(img, status, &s.text_) != 0) {
            return failed(no_memory());
        }
        // The spelled rows never hold a line end: every control code is spelled \xHH.
        std::size_t start = 0;
        for (int r = 0; r < img->chcnt_y; ++r) {
            const std::size_t end = s.text_.find('\n', start);
            s.rows_.push_back(s.text_.substr(start, end - start));
            start = end + 1;
        }
        s.columns_ = img->chcnt_x;
        if (status != nullptr) {
            s.cursor_ = {status->cursor_row, status->cursor_column};
            if (status->cursor_row < 0) {
                s.cursor_ = {-1, -1};
            }
            s.display_on_ = status->display_on;
            s.cursor_on_ = status->cursor_on;
            s.blink_on_ = status->blink_on;
        }
        s.backlight_on_ = !img->backlight_off;
        s.width_ = img->canvas_width;
        s.height_ = img->canvas_height;
        const std::size_t bytes = static_cast<std::size_t>(img->canvas_width) *
                                  static_cast<std::size_t>(img->canvas_height) * 3;
        s.pixels_.assign(img->pixels, img->pixels + bytes);
        screen_layout_t layout{};
        screen_layout_of(img, 1, &layout);
        s.layout_ = {layout.left,        layout.top,     layout.cell_width,
                     layout.cell_height, layout.pitch_x, layout.pitch_y};
        return s;
    }

    static screen_layout_t layout_of(const screen& s) {
        return {s.layout_.left,
                s.layout_.top,
                s.layout_.cell_width,
                s.layout_.cell_height,
                s.layout_.pitch_x,
                s.layout_.pitch_y,
                s.columns_,
                s.rows(),
                1};
    }

    static result open(const module& m, image_ptr* img) {
        if (!m.ok()) {
            return failure(status::bad_argument, "the module did not open: " + m.outcome().message);
        }
        result opened = open_image(m.profile_, m.font_, img);
        if (opened.ok()) {
            (*img)->console = console_over(&m.console_);
        }
        return opened;
    }

    static const source& font_of(const module& m) { return m.font_; }
    static module::console_buffers* console_of(const module& m) { return &m.console_; }
};

std::string screen::row(int r) const {
    try {
        return r >= 0 && r < rows() ? rows_[static_cast<std::size_t>(r)] : std::string();
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::vector<unsigned char> screen::png(result* outcome) const {
    std::vector<unsigned char> bytes;
    result done;
    try {
        if (!ok()) {
            done = failure(status::bad_argument, "no picture: " + outcome_.message);
        } else {
            std::string encoded;
            if (job_encode(JOB_FORMAT_PNG, pixels_.data(), width_, height_, &encoded) !=
                JOB_DONE) {
                done = no_memory();
            } else {
                bytes.assign(encoded.begin(), encoded.end());
            }
        }
    } catch (const std::bad_alloc&) {
        bytes.clear();
        done = no_memory();
    }
    if (outcome != nullptr) {
        *outcome = std::move(done);
    }
    return bytes;
}

namespace {

// Writes the screen's picture as the reference, PNG or BMP by its name.
void update_reference(const std::string& path, const std::vector<unsigned char>& pixels, int width,
                      int height, comparison* out) {
    const job_status_t written = job_write_picture(job_format_of_name(path), pixels.data(), width,
                                                   height, path.c_str(), -1);
    const int error = errno;
    if (written == JOB_NO_MEMORY) {
        out->outcome = no_memory();
    } else if (written != JOB_DONE) {
        out->outcome =
            failure(status::unwritable,
                    path + ": could not be written: " + std::strerror(error != 0 ? error : EIO));
    } else {
        out->outcome = {status::ok, path + ": updated"};
        out->updated = true;
    }
}

} // namespace

comparison screen::compare(const std::string& reference_path, reference_mode mode) const {
    comparison out;
    try {
        const bool update = snapshot_update_asked(mode == reference_mode::update);
        if (!ok()) {
            out.outcome = failure(status::bad_argument, "no picture: " + outcome_.message);
            return out;
        }
        std::array<char, REFPIC_MESSAGE_CAPACITY> message{};
        refpic_t ref{};
        errno = 0;
        const int read = refpic_read(reference_path.c_str(), width_, height_, &ref, message.data(),
                                     static_cast<int>(message.size()));
        const int error = errno;
        const std::unique_ptr<refpic_t, void (*)(refpic_t*)> guard(&ref, refpic_free);
        if (read == REFPIC_UNREADABLE && error == ENOENT && update) {
            update_reference(reference_path, pixels_, width_, height_, &out);
            return out;
        }
        if (read == REFPIC_UNREADABLE) {
            out.outcome = failure(status::unreadable,
                                  reference_path + ": cannot read the reference: " + reason(error) +
                                      (error == ENOENT || error == 0
                                           ? " (reference_mode::update or VIMBRA_UPDATE=1 "
                                             "writes it)"
                                           : ""));
            return out;
        }
        if (read == REFPIC_REFUSED) {
            out.outcome = failure(status::bad_format, reference_path + ": " + message.data());
            return out;
        }
        if (read != REFPIC_OK) {
            out.outcome = no_memory();
            return out;
        }
        if ((ref.width != width_ || ref.height != height_) && update) {
            update_reference(reference_path, pixels_, width_, height_, &out);
            return out;
        }
        if (ref.width != width_ || ref.height != height_) {
            out.outcome =
                failure(status::different,
                        "sizes differ: the picture is " + std::to_string(width_) + " x " +
                            std::to_string(height_) + ", the reference " +
                            std::to_string(ref.width) + " x " + std::to_string(ref.height));
            return out;
        }
        const screen_layout_t layout = screen_maker::layout_of(*this);
        screen_diff_t diff{};
        std::string report;
        const int compared =
            screen_compare(&layout, pixels_.data(), ref.rgb, width_, height_, &diff);
        const int reported =
            compared == 0 ? screen_diff_report(&layout, &diff, REPORT_CELLS, &report) : -1;
        if (compared == 0) {
            for (int i = 0; i < columns_ * rows(); ++i) {
                if (diff.cells[i] != 0) {
                    out.cells.push_back({i / columns_, i % columns_});
                }
            }
            out.outside = diff.outside;
        }
        screen_diff_free(&diff);
        if (compared != 0 || reported != 0) {
            out.cells.clear();
            out.outcome = no_memory();
        } else if (!report.empty() && update) {
            update_reference(reference_path, pixels_, width_, height_, &out);
        } else if (!report.empty()) {
            out.outcome = failure(status::different, report);
        }
    } catch (const std::bad_alloc&) {
        out.cells.clear();
        out.outcome = no_memory();
    }
    return out;
}

module module::open(const source& profile, const source& font) {
    module m;
    try {
        m.profile_ = profile;
        m.font_ = font;
        image_ptr img;
        m.outcome_ = open_image(profile, font, &img);
        if (m.outcome_.ok()) {
            m.columns_ = img->chcnt_x;
            m.rows_ = img->chcnt_y;
        }
    } catch (const std::bad_alloc&) {
        m.outcome_ = no_memory();
    }
    return m;
}

void module::set_console_input(std::string input) noexcept {
    console_.input = std::move(input);
    console_.input_position = 0;
}

screen module::show(const std::vector<std::string>& rows) const {
    try {
        image_ptr img;
        result opened = screen_maker::open(*this, &img);
        if (!opened.ok()) {
            return screen_maker::failed(std::move(opened));
        }
        std::vector<const char*> texts;
        for (const std::string& row : rows) {
            texts.push_back(row.c_str());
        }
        // The row's problem, which rowtext prints, becomes the result's message.
        module::console_buffers said;
        img->console = {append_output, &said, nullptr, nullptr};
        const int placed =
            rowtext_place_rows(img.get(), texts.data(), static_cast<int>(texts.size()));
        img->console = console_over(&console_);
        if (placed == -2) {
            return screen_maker::failed(no_memory());
        }
        if (placed != 0) {
            while (!said.output.empty() && said.output.back() == '\n') {
                said.output.pop_back();
            }
            return screen_maker::failed(
                failure(status::bad_format,
                        said.output.empty() ? "Illegal format string found." : said.output));
        }
        lcdimg_render(img.get());
        return screen_maker::of(img.get(), nullptr);
    } catch (const std::bad_alloc&) {
        return screen_maker::failed(no_memory());
    }
}

// A read log's state: its own picture and console, the log and a replay of it.
struct command_log::state {
    image_ptr img;
    module::console_buffers console;
    job_log_t job{};
    result outcome;

    state() = default;
    state(const state&) = delete;
    state& operator=(const state&) = delete;
    ~state() { job_log_free(&job); }

    // The display at `at`.
    screen at(std::int64_t at) {
        std::string said;
        const job_messages_t messages{keep_line, &said};
        replay_status_t shown{};
        const job_status_t done = job_log_show(&job, img.get(), at, "", &messages, &shown);
        if (done != JOB_DONE) {
            return screen_maker::failed(job_result(done, said));
        }
        lcdimg_render(img.get());
        return screen_maker::of(img.get(), &shown);
    }
};

command_log module::read_log(std::string_view log_text) const {
    command_log c;
    try {
        c.state_ = std::make_unique<command_log::state>();
        command_log::state& s = *c.state_;
        image_ptr img;
        s.outcome = screen_maker::open(*this, &img);
        if (!s.outcome.ok()) {
            return c;
        }
        img->console = console_over(&s.console);
        // The whole log once, so that a fault anywhere refuses it; without a profile, the
        // log's module line gives the grid.
        std::string said;
        const job_messages_t messages{keep_line, &said};
        const lcdimg_source_t font = source_of(font_);
        const job_status_t done = job_log_load(
            &s.job, img.get(), font_.from != source::kind::none ? &font : nullptr,
            profile_.from != source::kind::none ? "" : nullptr, log_text.data(), log_text.size(),
            false, "", &messages);
        if (done != JOB_DONE) {
            s.outcome = job_result(done, said);
            return c;
        }
        s.img = std::move(img);
    } catch (const std::bad_alloc&) {
        c.state_.reset();
    }
    return c;
}

screen module::replay(std::string_view log_text, std::int64_t at_us) const {
    const command_log log = read_log(log_text);
    screen shown = log.screen_at_us(at_us);
    try {
        console_.output += log.console_output();
    } catch (const std::bad_alloc&) {
        return screen_maker::failed(no_memory());
    }
    return shown;
}

namespace {
const result& no_state(const char* what) {
    // A default-made object, or one that memory was short for.
    static const result missing_controller{status::bad_argument,
                                           "no controller: module::drive makes one"};
    static const result missing_log{status::bad_argument,
                                    "no command log: module::read_log makes one"};
    return std::strcmp(what, "log") == 0 ? missing_log : missing_controller;
}
const std::string& no_output() {
    static const std::string empty;
    return empty;
}

// The screen of a mark that is not there: a usage error that lists those there are.
screen missing_mark(const std::vector<cmdlog_mark_t>* held, const cmdlog_t* log,
                    const std::string& name, const char* where) {
    std::string message;
    const cmdlog_mark_t* marks = held != nullptr ? held->data() : log->marks;
    const std::size_t count = held != nullptr ? held->size() : log->mark_count;
    if (snapshot_missing_mark(marks, count, name, where, &message) != 0) {
        return screen_maker::failed(no_memory());
    }
    return screen_maker::failed(failure(status::usage_error, message));
}
} // namespace

command_log::command_log() = default;
command_log::command_log(command_log&&) noexcept = default;
command_log& command_log::operator=(command_log&&) noexcept = default;
command_log::~command_log() = default;

const result& command_log::outcome() const noexcept {
    return state_ != nullptr ? state_->outcome : no_state("log");
}

std::vector<std::string> command_log::marks() const {
    std::vector<std::string> names;
    try {
        for (std::size_t i = 0; ok() && i < state_->job.log.mark_count; ++i) {
            names.emplace_back(state_->job.log.marks[i].name.data());
        }
    } catch (const std::bad_alloc&) {
        names.clear();
    }
    return names;
}

std::int64_t command_log::end_us() const noexcept {
    return ok() ? state_->job.log.end_us : 0;
}

const std::string& command_log::console_output() const noexcept {
    return state_ != nullptr ? state_->console.output : no_output();
}

screen command_log::screen_at(std::string_view mark) const {
    try {
        if (!ok()) {
            return screen_maker::failed(outcome());
        }
        const std::string name(mark);
        // A name with a NUL in it is none of the log's, whose names are single words.
        const cmdlog_mark_t* found = name.find('\0') == std::string::npos
                                         ? cmdlog_find_mark(&state_->job.log, name.c_str())
                                         : nullptr;
        if (found == nullptr) {
            return missing_mark(nullptr, &state_->job.log, name, "the log");
        }
        return state_->at(found->time_us);
    } catch (const std::bad_alloc&) {
        return screen_maker::failed(no_memory());
    }
}

screen command_log::screen_at_us(std::int64_t at_us) const {
    try {
        if (!ok()) {
            return screen_maker::failed(outcome());
        }
        return state_->at(at_us >= 0 ? at_us : state_->job.log.end_us);
    } catch (const std::bad_alloc&) {
        return screen_maker::failed(no_memory());
    }
}

// The controller's state: its own picture and console, the chips, and the one event that
// each byte becomes on its way to them.
struct controller::state {
    image_ptr img;
    module::console_buffers console;
    cmdlog_module_t layout{};
    replay_t replay{};
    chip_config_t timing{false, CHIP_DEFAULT_FOSC_KHZ, nullptr, nullptr};
    chip_event_t event{};
    std::uint32_t count = 0; // bytes sent, the "line" a refusal names
    int chip = 0;
    std::int64_t now = 0;
    bool backlight_on = true;
    result outcome;
    // The marks given, and the screens of those that time has moved on from; the rest are
    // at the present moment.
    std::vector<cmdlog_mark_t> marks;
    std::vector<screen> marked;

    void apply(unsigned char kind, unsigned char value) {
        if (!outcome.ok()) {
            return;
        }
        count += count < UINT32_MAX ? 1 : 0;
        event = {chip_ps_of_us(now), count, kind, value, static_cast<unsigned char>(chip), 0};
        std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
        if (replay_apply(&replay, &event, 1, now, message.data(),
                         static_cast<int>(message.size())) != 0) {
            outcome = failure(status::bad_format, message.data());
        }
    }
};

controller module::drive() const {
    return drive(drive_options{});
}

controller module::drive(const drive_options& options) const {
    controller c;
    try {
        c.state_ = std::make_unique<controller::state>();
        controller::state& s = *c.state_;
        image_ptr img;
        s.outcome = screen_maker::open(*this, &img);
        if (s.outcome.ok()) {
            s.outcome = use_rom(img.get(), font_);
        }
        if (s.outcome.ok()) {
            img->console = console_over(&s.console);
            lcdimg_module_of(img.get(), &s.layout);
            s.timing = {options.chip_timing, options.fosc_khz, nullptr, nullptr};
            job_replay_start(&s.replay, &s.layout, img.get(), nullptr, &s.timing);
            s.img = std::move(img);
        }
    } catch (const std::bad_alloc&) {
        c.state_.reset();
    }
    return c;
}

controller::controller() = default;
controller::controller(controller&&) noexcept = default;
controller& controller::operator=(controller&&) noexcept = default;
controller::~controller() = default;

const result& controller::outcome() const noexcept {
    return state_ != nullptr ? state_->outcome : no_state("controller");
}

int controller::chip_count() const noexcept {
    return state_ != nullptr && state_->img != nullptr ? state_->replay.module.chip_count : 0;
}

result controller::select_chip(int chip) {
    if (chip < 0 || chip >= chip_count()) {
        try {
            return failure(status::bad_argument, "no chip " + std::to_string(chip) +
                                                     " (the module has " +
                                                     std::to_string(chip_count()) + ")");
        } catch (const std::bad_alloc&) {
            return {status::bad_argument, {}};
        }
    }
    state_->chip = chip;
    return {};
}

void controller::instruction(std::uint8_t byte) {
    if (state_ != nullptr) {
        state_->apply(CHIP_INSTRUCTION, byte);
    }
}

void controller::data(std::uint8_t byte) {
    if (state_ != nullptr) {
        state_->apply(CHIP_DATA, byte);
    }
}

void controller::send(bool is_data, const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; bytes != nullptr && i < count; ++i) {
        is_data ? data(bytes[i]) : instruction(bytes[i]);
    }
}

std::uint8_t controller::read_busy_address() {
    if (state_ == nullptr || !state_->outcome.ok()) {
        return 0;
    }
    return chip_read_busy(&state_->replay.chips[static_cast<std::size_t>(state_->chip)],
                          chip_ps_of_us(state_->now));
}

std::uint8_t controller::read_data() {
    if (state_ == nullptr || !state_->outcome.ok()) {
        return 0;
    }
    state_->apply(CHIP_READ_DATA, 0);
    return state_->replay.chips[static_cast<std::size_t>(state_->chip)].data_register;
}

void controller::wait_us(std::int64_t us) {
    if (state_ != nullptr && us > 0) {
        advance_to(us > CMDLOG_MAX_TIME_US - state_->now ? CMDLOG_MAX_TIME_US : state_->now + us);
    }
}

void controller::advance_to(std::int64_t time_us) {
    if (state_ == nullptr) {
        return;
    }
    state& s = *state_;
    const std::int64_t later = std::clamp(time_us, s.now, std::max(s.now, CMDLOG_MAX_TIME_US));
    if (later > s.now && s.marked.size() < s.marks.size()) {
        // A mark is its moment whole: the screen after every byte sent at its time.
        const screen shown = snapshot();
        try {
            s.marked.resize(s.marks.size(), shown);
        } catch (const std::bad_alloc&) {
            s.outcome = no_memory();
        }
    }
    s.now = later;
}

void controller::backlight(bool on) {
    if (state_ != nullptr) {
        state_->backlight_on = on;
    }
}

result controller::mark(std::string_view name) {
    try {
        const std::string text(name);
        if (text.find('\0') != std::string::npos || !cmdlog_is_mark_name(text.c_str())) {
            return failure(status::bad_argument,
                           "not a mark name: '" + shown_text(text, CMDLOG_MARK_NAME_MAX) +
                               "' (1 to 64 letters, digits, '_', '-' and '.')");
        }
        if (state_ == nullptr) {
            return no_state("controller");
        }
        for (const cmdlog_mark_t& m : state_->marks) {
            if (text == m.name.data()) {
                return {}; // the first moment of a name stays
            }
        }
        cmdlog_mark_t m{state_->now, state_->count, {}};
        std::memcpy(m.name.data(), text.c_str(), text.size() + 1);
        state_->marks.push_back(m);
        return {};
    } catch (const std::bad_alloc&) {
        return no_memory();
    }
}

std::vector<std::string> controller::marks() const {
    std::vector<std::string> names;
    try {
        for (std::size_t i = 0; state_ != nullptr && i < state_->marks.size(); ++i) {
            names.emplace_back(state_->marks[i].name.data());
        }
    } catch (const std::bad_alloc&) {
        names.clear();
    }
    return names;
}

screen controller::screen_at(std::string_view mark) const {
    try {
        if (state_ == nullptr) {
            return screen_maker::failed(no_state("controller"));
        }
        const std::string name(mark);
        const state& s = *state_;
        for (std::size_t i = 0; i < s.marks.size(); ++i) {
            if (name == s.marks[i].name.data()) {
                return i < s.marked.size() ? s.marked[i] : snapshot();
            }
        }
        return missing_mark(&s.marks, nullptr, name, "the controller");
    } catch (const std::bad_alloc&) {
        return screen_maker::failed(no_memory());
    }
}

void controller_sink(const lcd_event& event, void* context) {
    auto* c = static_cast<controller*>(context);
    if (c == nullptr || c->state_ == nullptr) {
        return;
    }
    controller::state& s = *c->state_;
    try {
        switch (event.kind) {
        case lcd_event_kind::instruction:
        case lcd_event_kind::data:
        case lcd_event_kind::controller:
        case lcd_event_kind::read_busy:
        case lcd_event_kind::read_data:
            if ((event.kind == lcd_event_kind::read_busy ||
                 event.kind == lcd_event_kind::read_data) &&
                event.answer != nullptr) {
                *event.answer = 0; // unless the chip answers
            }
            if (event.chip < 1 || event.chip > c->chip_count()) {
                if (s.outcome.ok()) {
                    s.outcome =
                        failure(status::bad_format,
                                "controller " + std::to_string(event.chip) + ": this module has " +
                                    (c->chip_count() == 2 ? "two controllers" : "one controller"));
                }
                return;
            }
            s.chip = event.chip - 1;
            if (event.kind == lcd_event_kind::read_busy && event.answer != nullptr) {
                *event.answer = c->read_busy_address();
            } else if (event.kind == lcd_event_kind::read_data && event.answer != nullptr) {
                *event.answer = c->read_data();
            } else if (event.kind == lcd_event_kind::instruction ||
                       event.kind == lcd_event_kind::data) {
                c->send(event.kind == lcd_event_kind::data, event.bytes, event.count);
            }
            return;
        case lcd_event_kind::wait:
            c->wait_us(event.us > static_cast<std::uint64_t>(CMDLOG_MAX_TIME_US)
                           ? CMDLOG_MAX_TIME_US
                           : static_cast<std::int64_t>(event.us));
            return;
        case lcd_event_kind::mark:
            c->mark(event.name != nullptr ? event.name : "");
            return;
        case lcd_event_kind::backlight:
            c->backlight(event.on);
            return;
        case lcd_event_kind::module:
            if (s.img != nullptr &&
                (event.cols != s.img->chcnt_x || event.rows != s.img->chcnt_y)) {
                s.console.output += "[Warning]: the firmware's module is " +
                                    std::to_string(event.cols) + "x" + std::to_string(event.rows) +
                                    ", the profile's " + std::to_string(s.img->chcnt_x) + "x" +
                                    std::to_string(s.img->chcnt_y) + "\n";
            }
            return;
        }
    } catch (const std::bad_alloc&) {
        s.outcome = no_memory();
    }
}

std::int64_t controller::now_us() const noexcept {
    return state_ != nullptr ? state_->now : 0;
}

const std::string& controller::console_output() const noexcept {
    return state_ != nullptr ? state_->console.output : no_output();
}

screen controller::snapshot() const {
    try {
        if (state_ == nullptr) {
            return screen_maker::failed(no_state("controller"));
        }
        state& s = *state_;
        if (!s.outcome.ok()) {
            return screen_maker::failed(s.outcome);
        }
        if (job_replay_show(&s.replay, s.img.get(), s.now) != 0) {
            return screen_maker::failed(no_memory());
        }
        s.img->backlight_off = !s.backlight_on;
        replay_status_t shown{};
        replay_status(&s.replay, &shown);
        lcdimg_render(s.img.get());
        return screen_maker::of(s.img.get(), &shown);
    } catch (const std::bad_alloc&) {
        return screen_maker::failed(no_memory());
    }
}

} // namespace vimbra
