#include "chip/i2cbus.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace vimbra;

namespace {

// SDA and SCL as a master drives them, one level pair per step.
struct wire_t {
    std::vector<std::pair<bool, bool>> levels{{true, true}}; // sda, scl: idle
    void to(bool sda, bool scl) { levels.push_back({sda, scl}); }
    void start() { to(true, true), to(false, true), to(false, false); } // SDA falls, SCL high
    void stop() { to(false, false), to(false, true), to(true, true); }  // SDA rises, SCL high
    void bit(bool b) { to(b, false), to(b, true), to(b, false); }
    void byte(unsigned value, bool ack) {
        for (int i = 7; i >= 0; --i) {
            bit(((value >> i) & 1) != 0);
        }
        bit(!ack); // the acknowledge: SDA low
    }
};

// The expander bytes the display got, as the pins of the usual wiring give them back.
std::vector<unsigned> written(const wire_t& wire) {
    std::vector<unsigned> bytes;
    const i2cbus_callbacks_t callbacks{
        [](const bus_step_t* step, void* ctx) {
            constexpr std::array<int, 8> roles{BUS_RS,     BUS_RW,     BUS_E1,     -1,
                                               BUS_D0 + 4, BUS_D0 + 5, BUS_D0 + 6, BUS_D0 + 7};
            unsigned value = 0;
            for (int pin = 0; pin < 8; ++pin) {
                if (roles[pin] >= 0 && ((step->levels >> roles[pin]) & 1) != 0) {
                    value |= 1u << pin;
                }
            }
            static_cast<std::vector<unsigned>*>(ctx)->push_back(value);
        },
        nullptr, &bytes};
    i2cbus_t bus{};
    i2cbus_start(&bus, &callbacks, {0, 1, 2, 3, 4, 5, 6, 7}, 0x27);
    std::int64_t t = 0;
    for (const auto& [sda, scl] : wire.levels) {
        const std::uint32_t levels = (sda ? 1u << BUS_SDA : 0) | (scl ? 1u << BUS_SCL : 0);
        const bus_step_t step{t += 5000000, 1, 0, levels, 0};
        i2cbus_step(&bus, &step);
    }
    return bytes;
}

// START, STOP, the acknowledge and repeated START as the I2C bus defines them; the backlight
// pin (P3) is no display line, so it never shows.
TEST(I2cbusTest, StartStopAckAndRepeatedStart) {
    constexpr unsigned WRITE = 0x27 << 1;
    struct i2c_case_t {
        const char* name;
        void (*drive)(wire_t& w);
        std::vector<unsigned> expected;
    };
    const std::vector<i2c_case_t> cases{
        {"AddressThenBytes",
         [](wire_t& w) {
             w.start(), w.byte(WRITE, true), w.byte(0xA5, true), w.byte(0x5A, true), w.stop();
         },
         {0xA5 & ~8u, 0x5A & ~8u}},
        {"AddressNotAcknowledged",
         [](wire_t& w) { w.start(), w.byte(WRITE, false), w.byte(0xA5, true), w.stop(); },
         {}},
        {"ByteNotAcknowledged",
         [](wire_t& w) {
             w.start(), w.byte(WRITE, true), w.byte(0xA5, false), w.byte(0x11, true), w.stop();
         },
         {0x11}},
        {"ReadAddressWritesNothing",
         [](wire_t& w) { w.start(), w.byte(WRITE | 1, true), w.byte(0xA5, true), w.stop(); },
         {}},
        {"RepeatedStartBeginsAnew",
         [](wire_t& w) {
             w.start(), w.byte(WRITE, true), w.byte(0x11, true);
             w.to(true, false), w.start(), w.byte(WRITE, true), w.byte(0x22, true), w.stop();
         },
         {0x11, 0x22}},
        {"RepeatedStartMidByte",
         [](wire_t& w) {
             w.start(), w.byte(WRITE, true), w.bit(true), w.bit(false);
             w.to(true, false), w.start(), w.byte(WRITE, true), w.byte(0x44, true), w.stop();
         },
         {0x44}},
        {"StopEndsTheTransfer",
         [](wire_t& w) {
             w.start(), w.byte(WRITE, true), w.byte(0x11, true), w.stop(), w.byte(0x22, true);
         },
         {0x11}},
        {"OtherAddressIgnored",
         [](wire_t& w) { w.start(), w.byte(0x3F << 1, true), w.byte(0x11, true), w.stop(); },
         {}},
    };
    for (const i2c_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        wire_t wire;
        c.drive(wire);
        EXPECT_EQ(written(wire), c.expected);
    }
}

} // namespace
