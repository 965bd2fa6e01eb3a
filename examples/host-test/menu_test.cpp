// Firmware menu code tested on the host: the menu writes to the display through a bus, which
// on the device toggles the module's pins and here drives vimbra's in-process controller.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vimbra/lcd_shim.hpp>
#include <vimbra/vimbra.hpp>

namespace {

// --- the firmware under test -------------------------------------------------------------

template <typename Bus> class Menu {
  public:
    explicit Menu(Bus& bus) : bus_(bus) {}

    void begin() {
        bus_.command(0x38); // function set: 8-bit bus, two lines, 5 x 8 dots
        bus_.command(0x0C); // display on, no cursor
        bus_.command(0x01); // clear
        bus_.command(0x06); // entry mode: increment
        draw();
    }
    // The down button: the next item, wrapping at the end.
    void down() {
        selected_ = (selected_ + 1) % COUNT;
        draw();
    }
    // The select button: the item's value is edited with a blinking cursor on it.
    void select() {
        bus_.command(0xC0 + 9); // second line, column 9
        bus_.command(0x0F);     // display, cursor and blink on
    }

  private:
    static constexpr int COUNT = 3;
    static constexpr const char* ITEMS[COUNT] = {"Contrast", "Backlight", "Language"};
    static constexpr const char* VALUES[COUNT] = {"50 %", "on", "English"};

    void text(std::uint8_t address, const std::string& s) {
        bus_.command(static_cast<std::uint8_t>(0x80 | address));
        for (char c : s) {
            bus_.write(static_cast<std::uint8_t>(c));
        }
    }
    void draw() {
        char line[17];
        std::snprintf(line, sizeof line, "> %-14s", ITEMS[selected_]);
        text(0x00, line);
        std::snprintf(line, sizeof line, "  value: %-7s", VALUES[selected_]);
        text(0x40, line);
    }

    Bus& bus_;
    int selected_ = 0;
};

// --- the host side ------------------------------------------------------------------------

// The bus the firmware writes to, over the in-process controller; every byte takes the 40 us
// that the controller needs.
struct HostBus {
    vimbra::controller& lcd;
    void command(std::uint8_t byte) {
        lcd.instruction(byte);
        lcd.wait_us(byte <= 0x03 ? 1520 : 40);
    }
    void write(std::uint8_t byte) {
        lcd.data(byte);
        lcd.wait_us(40);
    }
};

const char* const PROFILE = "CHCNT_X 16\nCHCNT_Y 2\nPIXSIZ_X 2\nPIXSIZ_Y 2\n";

class MenuTest : public testing::Test {
  protected:
    vimbra::module module = vimbra::module::open(vimbra::source::text(PROFILE));
    vimbra::controller lcd = module.drive();
    HostBus bus{lcd};
    Menu<HostBus> menu{bus};
};

TEST_F(MenuTest, ShowsTheFirstItemAfterStartUp) {
    ASSERT_TRUE(module.ok()) << module.outcome().message;
    menu.begin();
    const vimbra::screen screen = lcd.snapshot();
    ASSERT_TRUE(screen.ok()) << screen.outcome().message;
    EXPECT_EQ(screen.row(0), "> Contrast      ");
    EXPECT_EQ(screen.row(1), "  value: 50 %   ");
    EXPECT_EQ(screen.cursor().row, -1); // no cursor shown
    EXPECT_TRUE(screen.display_on());
}

TEST_F(MenuTest, DownWrapsAroundTheItems) {
    menu.begin();
    const char* const expected[] = {"> Backlight     ", "> Language      ", "> Contrast      "};
    for (const char* row : expected) {
        menu.down();
        EXPECT_EQ(lcd.snapshot().row(0), row);
    }
}

TEST_F(MenuTest, SelectPutsABlinkingCursorOnTheValue) {
    menu.begin();
    menu.down();
    menu.select();
    const vimbra::screen screen = lcd.snapshot();
    EXPECT_EQ(screen.text(), "> Backlight     \n"
                             "  value: on     \n"
                             "cursor row 2 column 10, display on, cursor on, blink on\n");
    EXPECT_EQ(screen.cursor(), (vimbra::cell{1, 9}));
}

// A picture of the screen, kept by the test and compared later: only the changed cells are
// named. Updating writes a missing reference (as VIMBRA_UPDATE=1 does for every comparison).
TEST_F(MenuTest, AComparisonNamesTheCellsThatChanged) {
    menu.begin();
    const std::string path = testing::TempDir() + "menu-first.png";
    std::remove(path.c_str());
    const vimbra::comparison first = lcd.snapshot().compare(path, vimbra::reference_mode::update);
    EXPECT_TRUE(first.updated) << first.outcome.message;

    EXPECT_TRUE(lcd.snapshot().compare(path).same());
    menu.down(); // "Contrast" -> "Backlight", "50 %" -> "on"
    const vimbra::comparison diff = lcd.snapshot().compare(path);
    EXPECT_EQ(diff.outcome.status, vimbra::status::different);
    ASSERT_FALSE(diff.cells.empty());
    EXPECT_EQ(diff.cells.front(), (vimbra::cell{0, 2})); // C -> B
    EXPECT_EQ(diff.cells.back(), (vimbra::cell{1, 12})); // the % that went
    std::remove(path.c_str());
}

// The firmware's driver may be the shim itself: its calls reach the controller through
// controller_sink, and marks name the screens, to be asked for later.
TEST(MenuThroughTheShim, MarksNameTheScreens) {
    const vimbra::module module = vimbra::module::open(vimbra::source::text(PROFILE));
    vimbra::controller lcd = module.drive();
    std::uint64_t now = 0; // microseconds: the test moves the firmware's clock
    vimbra::lcd_shim shim(vimbra::controller_sink, &lcd, [&now] { return now; });
    Menu<vimbra::lcd_shim> menu(shim);
    menu.begin();
    shim.mark("first");
    now += 200000;
    menu.down();
    shim.mark("second");
    now += 200000;
    shim.sync();

    EXPECT_EQ(lcd.screen_at("first").row(0), "> Contrast      ");
    EXPECT_EQ(lcd.screen_at("second").row(1), "  value: on     ");
    const vimbra::screen missing = lcd.screen_at("third");
    EXPECT_EQ(missing.outcome().status, vimbra::status::usage_error);
    EXPECT_EQ(missing.outcome().message,
              "no mark 'third' in the controller (its marks: first, second)");
}

} // namespace
