// Screens by name and references that update, through the C++ API: the project's own sketch
// at its marks against the committed pictures, firmware driving the controller through the
// shim in-process, and the update switch by argument and by environment.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_dir.hpp"
#include "vimbra/lcd_shim.hpp"
#include "vimbra/vimbra.hpp"

namespace {

const std::string MENU_PROFILE =
    std::string(VIMBRA_SOURCE_DIR) + "/examples/profiles/blue-16x2.prof";
const std::string MENU_PICTURES = std::string(VIMBRA_SOURCE_DIR) + "/examples/sketches/menu/";

// VIMBRA_UPDATE set (or unset) for one test, as it was afterwards.
class update_variable_t {
  public:
    explicit update_variable_t(const char* value) {
        if (const char* was = std::getenv("VIMBRA_UPDATE"); was != nullptr) {
            was_ = was;
        }
        value != nullptr ? setenv("VIMBRA_UPDATE", value, 1) : unsetenv("VIMBRA_UPDATE");
    }
    ~update_variable_t() {
        was_ ? setenv("VIMBRA_UPDATE", was_->c_str(), 1) : unsetenv("VIMBRA_UPDATE");
    }
    update_variable_t(const update_variable_t&) = delete;
    update_variable_t& operator=(const update_variable_t&) = delete;

  private:
    std::optional<std::string> was_;
};

// The menu sketch's log, written by the built sketch program as a user runs it.
std::string menu_log(const temp_dir_t& dir) {
    const std::string log = dir.file("menu.log");
    const std::string command = "'" + std::string(SKETCH_MENU_PATH) +
                                "' --run 37s --input '" + VIMBRA_SOURCE_DIR +
                                "/examples/sketches/menu/menu.stim' --log '" + log +
                                "' </dev/null 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
        return {};
    }
    return read_file(log);
}

// The sketch's marks in the order its code sets them; three of its screens are committed
// pictures, the unlit one among them.
TEST(VimbraMarks, TheMenuSketchAtItsMarksIsItsCommittedPictures) {
    const update_variable_t no_update(nullptr);
    const temp_dir_t dir;
    const std::string text = menu_log(dir);
    ASSERT_FALSE(text.empty());
    const vimbra::module module = vimbra::module::open(vimbra::source::file(MENU_PROFILE));
    ASSERT_TRUE(module.ok()) << module.outcome().message;
    const vimbra::command_log log = module.read_log(text);
    ASSERT_TRUE(log.ok()) << log.outcome().message;
    EXPECT_EQ(log.marks(),
              (std::vector<std::string>{
                  "splash", "menu", "menu-counter", "counter", "counted", "menu-setpoint", "edit",
                  "edit-up", "menu-scrolling", "scrolled", "menu-directions", "directions",
                  "menu-numbers", "numbers", "menu-display", "display-off", "display-on",
                  "temperature", "asleep", "awake"}));
    for (const char* mark : {"temperature", "edit", "asleep"}) {
        const vimbra::screen screen = log.screen_at(mark);
        ASSERT_TRUE(screen.ok()) << mark << ": " << screen.outcome().message;
        const vimbra::comparison same = screen.compare(MENU_PICTURES + mark + ".png");
        EXPECT_TRUE(same.same()) << mark << ": " << same.outcome.message;
        EXPECT_FALSE(same.updated);
        // Another mark's picture differs: the comparison is not blind.
        EXPECT_EQ(log.screen_at("splash").compare(MENU_PICTURES + mark + ".png").outcome.status,
                  vimbra::status::different)
            << mark;
    }
    // LM35 reading 44: 44 * 500 / 1024 = 21.48 degrees, then the degree glyph (code 1).
    EXPECT_EQ(log.screen_at("temperature").row(0), "Temp 21.5\\x01C     ");
    EXPECT_EQ(log.screen_at("menu-counter").row(1), "\\x00Counter        ");
    EXPECT_FALSE(log.screen_at("asleep").backlight_on());
    EXPECT_TRUE(log.screen_at("awake").backlight_on());
    // By time, the end of the run still shows the temperature, lit again by the last press.
    EXPECT_EQ(log.screen_at_us(-1).row(0), "Temp 21.5\\x01C     ");
    EXPECT_TRUE(log.screen_at_us(-1).backlight_on());

    const vimbra::screen missing = log.screen_at("settings");
    EXPECT_EQ(missing.outcome().status, vimbra::status::usage_error);
    EXPECT_EQ(missing.outcome().message,
              "no mark 'settings' in the log (its marks: splash, menu, menu-counter, counter, "
              "counted, menu-setpoint, edit, edit-up, menu-scrolling, scrolled, menu-directions, "
              "directions, menu-numbers, numbers, menu-display, display-off, display-on, "
              "temperature, asleep, awake)");
    EXPECT_TRUE(missing.text_rows().empty());
    // A name is the whole of it: one with a NUL inside is no mark's.
    EXPECT_EQ(log.screen_at(std::string_view("splash\0x", 8)).outcome().status,
              vimbra::status::usage_error);
    const vimbra::screen none = module.read_log("init\nprint \"x\"\n").screen_at("x");
    EXPECT_EQ(none.outcome().message, "no mark 'x' in the log (it has no marks)");
    const vimbra::command_log bad = module.read_log("mark a\nfrobnicate\n");
    EXPECT_EQ(bad.outcome().status, vimbra::status::bad_format);
    EXPECT_EQ(bad.screen_at("a").outcome().status, vimbra::status::bad_format);
}

// The update switch, by argument or by VIMBRA_UPDATE=1, on a reference that is missing,
// changed, of another size, or equal; PNG or BMP by the name.
struct update_case_t {
    const char* name;
    const char* file;                // the reference's name
    std::vector<std::string> before; // the rows its picture shows; none: no file
    bool by_argument;
    const char* variable; // VIMBRA_UPDATE's value, or null for none
    vimbra::status status;
    bool written;
};

void PrintTo(const update_case_t& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<std::string> NOW = {"menu", "> two"};
const std::string SMALL = "CHCNT_X 8\nCHCNT_Y 2\nPIXSIZ_X 1\nPIXSIZ_Y 1\n";
const std::string WIDE_SMALL = "CHCNT_X 16\nCHCNT_Y 2\nPIXSIZ_X 1\nPIXSIZ_Y 1\n";

class VimbraUpdate : public testing::TestWithParam<update_case_t> {};

TEST_P(VimbraUpdate, WritesAMissingOrDifferentReferenceOnly) {
    const update_case_t& c = GetParam();
    const update_variable_t variable(c.variable);
    const temp_dir_t dir;
    const std::string path = dir.file(c.file);
    const vimbra::module module = vimbra::module::open(vimbra::source::text(SMALL));
    std::filesystem::file_time_type old_time{};
    std::string old_bytes;
    if (!c.before.empty()) {
        // Another size for the resized case: a module of three rows.
        const vimbra::module before_module =
            c.before.size() == 3
                ? vimbra::module::open(vimbra::source::text("CHCNT_X 8\nCHCNT_Y 3\nPIXSIZ_X 1\n"))
                : module;
        const std::vector<unsigned char> png = before_module.show(c.before).png();
        ASSERT_FALSE(png.empty());
        dir.write(c.file, std::string(png.begin(), png.end()));
        old_bytes = read_file(path);
        old_time = std::filesystem::last_write_time(path) - std::chrono::hours(1);
        std::filesystem::last_write_time(path, old_time);
    }
    const vimbra::screen screen = module.show(NOW);
    const vimbra::comparison result = screen.compare(
        path, c.by_argument ? vimbra::reference_mode::update : vimbra::reference_mode::check);
    EXPECT_EQ(result.outcome.status, c.status) << result.outcome.message;
    EXPECT_EQ(result.updated, c.written);
    if (c.written) {
        EXPECT_EQ(result.outcome.message, path + ": updated");
        const std::string bytes = read_file(path);
        // A name ending in .png in any case is a PNG file, any other a BMP one.
        const bool png = std::string(c.file) != "ref.bmp";
        EXPECT_EQ(bytes.substr(0, png ? 4 : 2), png ? "\x89PNG" : "BM");
        const update_variable_t off(nullptr);
        EXPECT_TRUE(screen.compare(path).same()) << "what was written is the screen";
        return;
    }
    if (c.before.empty()) {
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_EQ(result.outcome.message,
                  path + ": cannot read the reference: No such file or directory "
                         "(reference_mode::update or VIMBRA_UPDATE=1 writes it)");
        return;
    }
    EXPECT_EQ(std::filesystem::last_write_time(path), old_time) << "left untouched";
    EXPECT_EQ(read_file(path), old_bytes);
}

constexpr vimbra::status OK = vimbra::status::ok;
const std::vector<std::string> NONE;                    // no reference file
const std::vector<std::string> OLD = {"menu", "> one"}; // one cell differs from NOW
const std::vector<std::string> TALL = {"menu", "> two", ""};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, VimbraUpdate, testing::Values(
    update_case_t{"MissingByArgument",     "ref.png", NONE, true,  nullptr, OK, true},
    update_case_t{"MissingByVariable",     "ref.bmp", NONE, false, "1",     OK, true},
    update_case_t{"MissingNotAsked",       "ref.png", NONE, false, nullptr, vimbra::status::unreadable, false},
    update_case_t{"MissingVariableNotOne", "ref.png", NONE, false, "yes",   vimbra::status::unreadable, false},
    update_case_t{"ChangedByArgument",     "ref.PNG", OLD,  true,  nullptr, OK, true},
    update_case_t{"ChangedByVariable",     "ref.bmp", OLD,  false, "1",     OK, true},
    update_case_t{"ChangedNotAsked",       "ref.png", OLD,  false, "0",     vimbra::status::different, false},
    update_case_t{"ResizedByVariable",     "ref.png", TALL, false, "1",     OK, true},
    update_case_t{"EqualByArgument",       "ref.png", NOW,  true,  nullptr, OK, false},
    update_case_t{"EqualByVariable",       "ref.png", NOW,  false, "1",     OK, false}),
    [](const testing::TestParamInfo<update_case_t>& param) { return std::string(param.param.name); });
// clang-format on

// --- firmware through the shim, driving the controller in-process -------------------------

// A small settings menu as firmware writes it against an LCD driver's calls.
template <typename Lcd> class settings_menu {
  public:
    settings_menu(Lcd& lcd, std::uint64_t& clock) : lcd_(lcd), clock_(clock) {}

    void start() {
        lcd_.begin(16, 2);
        lcd_.print("Settings");
        draw();
        lcd_.mark("start");
    }
    void down() {
        clock_ += 250000; // the button's debounce
        selected_ = (selected_ + 1) % 3;
        draw();
        lcd_.mark(selected_ == 1 ? "second" : "other");
    }
    // The value edited: a blinking cursor on it. The mark comes before the bytes of its
    // moment, which it still shows, as a log replayed at the mark does.
    void edit() {
        clock_ += 100000;
        lcd_.mark("edit");
        lcd_.setCursor(13, 1);
        lcd_.blink();
    }

  private:
    void draw() {
        const char* const items[] = {"> Contrast  ", "> Language  ", "> Backlight "};
        const char* const values[] = {"50%", " en", "off"};
        lcd_.setCursor(0, 1);
        lcd_.print(items[selected_]);
        lcd_.setCursor(13, 1);
        lcd_.print(values[selected_]);
    }
    Lcd& lcd_;
    std::uint64_t& clock_;
    int selected_ = 0;
};

// The menu run once into a controller through controller_sink and once into a log: the
// screens at each mark agree, and match what the menu's code shows.
TEST(VimbraShimSink, AMenuAskedInProcessWhatItsRowsSay) {
    const vimbra::module module = vimbra::module::open(vimbra::source::text(WIDE_SMALL));
    ASSERT_TRUE(module.ok()) << module.outcome().message;
    vimbra::controller lcd = module.drive();
    std::uint64_t now = 0;
    vimbra::lcd_shim shim(vimbra::controller_sink, &lcd, [&now] { return now; });
    settings_menu<vimbra::lcd_shim> menu(shim, now);

    menu.start();
    EXPECT_EQ(lcd.snapshot().row(1), "> Contrast   50%");
    menu.down();
    EXPECT_EQ(lcd.snapshot().row(1), "> Language    en");
    EXPECT_EQ(lcd.now_us(), 250000);
    menu.down();
    menu.edit();
    now += 500000;
    shim.sync();
    EXPECT_EQ(lcd.marks(), (std::vector<std::string>{"start", "second", "other", "edit"}));
    EXPECT_EQ(lcd.screen_at("start").row(0), "Settings        ");
    EXPECT_EQ(lcd.screen_at("second").row(1), "> Language    en");
    const vimbra::screen edit = lcd.screen_at("edit");
    EXPECT_EQ(edit.row(1), "> Backlight  off");
    EXPECT_EQ(edit.cursor(), (vimbra::cell{1, 13}));
    EXPECT_TRUE(edit.blink_on());

    const vimbra::screen missing = lcd.screen_at("language");
    EXPECT_EQ(missing.outcome().status, vimbra::status::usage_error);
    EXPECT_EQ(missing.outcome().message,
              "no mark 'language' in the controller (its marks: start, second, other, edit)");

    // The same firmware written as a log and read back: the same screen at every mark, the
    // blink phase included.
    std::ostringstream text;
    std::uint64_t log_now = 0;
    vimbra::lcd_shim writer(text, [&log_now] { return log_now; });
    settings_menu<vimbra::lcd_shim> logged(writer, log_now);
    logged.start();
    logged.down();
    logged.down();
    logged.edit();
    log_now += 500000;
    writer.sync();
    const vimbra::command_log log = module.read_log(text.str());
    ASSERT_TRUE(log.ok()) << log.outcome().message;
    for (const std::string& mark : lcd.marks()) {
        EXPECT_EQ(lcd.screen_at(mark).text(), log.screen_at(mark).text()) << mark;
        EXPECT_EQ(lcd.screen_at(mark).pixels(), log.screen_at(mark).pixels()) << mark;
    }
    EXPECT_EQ(lcd.snapshot().pixels(), log.screen_at_us(-1).pixels());
}

// Two controllers, the backlight, and what the sink refuses or warns of.
TEST(VimbraShimSink, TwoControllersBacklightAndMismatches) {
    const vimbra::module wide =
        vimbra::module::open(vimbra::source::text("CHCNT_X 40\nCHCNT_Y 4\n"));
    vimbra::controller four = wide.drive();
    vimbra::lcd_shim shim(vimbra::controller_sink, &four);
    shim.begin(40, 4);
    for (std::uint8_t row = 0; row < 4; ++row) {
        shim.setCursor(static_cast<std::uint8_t>(row * 2), row);
        shim.print("row");
        shim.print(row + 1);
    }
    shim.backlight(false);
    const vimbra::screen all = four.snapshot();
    ASSERT_TRUE(all.ok()) << all.outcome().message;
    EXPECT_EQ(all.row(2), "    row3" + std::string(32, ' '));
    EXPECT_EQ(all.row(3), "      row4" + std::string(30, ' '));
    EXPECT_FALSE(all.backlight_on());
    EXPECT_EQ(four.console_output(), "");

    // A 40 x 4 firmware on a 16 x 2 module: warned of, and its second controller refused.
    vimbra::controller small = vimbra::module::open(vimbra::source::none()).drive();
    vimbra::lcd_shim wrong(vimbra::controller_sink, &small);
    wrong.begin(40, 4);
    EXPECT_EQ(small.console_output(),
              "[Warning]: the firmware's module is 40x4, the profile's 16x2\n");
    EXPECT_EQ(small.outcome().status, vimbra::status::bad_format);
    EXPECT_EQ(small.outcome().message, "controller 2: this module has one controller");
    EXPECT_FALSE(small.mark("bad name").ok());
}

} // namespace
