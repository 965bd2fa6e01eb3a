#include "chip/parbus.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

using namespace vimbra;

namespace {

constexpr std::int64_t NS = 1000; // picoseconds

// The margins of one write cycle (E high from `rise`), each well clear of its limit unless a
// case sets it; a second cycle follows when `cycle` is set.
struct margins_t {
    std::int64_t setup = 2000 * NS; // RS up to E up
    std::int64_t pulse = 2000 * NS; // E high
    std::int64_t data_setup = 1000 * NS;
    std::int64_t addr_hold = 1000 * NS; // E down to RS down
    std::int64_t data_hold = 1500 * NS;
    std::int64_t cycle = 0; // E up to E up; 0: one cycle
};

// The faults' limit names ("tAS", ...) that a cycle with these margins gets.
std::vector<std::string> judge(const margins_t& m, bool low_voltage) {
    std::map<std::int64_t, std::vector<std::pair<int, bool>>> changes; // time: line, level
    const std::int64_t start = 100000 * NS;
    const std::int64_t rise = start + m.setup;
    const std::int64_t fall = rise + m.pulse;
    changes[start].push_back({BUS_RS, true});
    changes[rise].push_back({BUS_E1, true});
    changes[fall - m.data_setup].push_back({BUS_D0 + 6, true}); // 0x40
    changes[fall].push_back({BUS_E1, false});
    if (m.cycle > 0) { // RS and the data stay: only the cycle time is close
        changes[rise + m.cycle].push_back({BUS_E1, true});
        changes[rise + m.cycle + m.pulse].push_back({BUS_E1, false});
    } else {
        changes[fall + m.addr_hold].push_back({BUS_RS, false});
        changes[fall + m.data_hold].push_back({BUS_D0 + 6, false});
    }
    std::vector<std::string> faults;
    const parbus_callbacks_t callbacks{
        [](const bus_cycle_t*, void*) {},
        [](std::int64_t, std::uint32_t, const char* text, void* ctx) {
            const std::string line = text;
            const std::size_t under = line.find("under ");
            auto* found = static_cast<std::vector<std::string>*>(ctx);
            found->push_back(line.substr(under + 6, line.find(' ', under + 6) - under - 6));
        },
        &faults};
    parbus_t bus{};
    const bus_limits_t limits = parbus_limits(low_voltage);
    parbus_start(&bus, &callbacks, &limits, false);
    constexpr std::uint32_t LINES =
        (1u << BUS_RS) | (1u << BUS_RW) | (1u << BUS_E1) | BUS_DATA_MASK;
    bus_step_t first{0, 1, LINES, 0, LINES}; // every line low, fresh
    parbus_step(&bus, &first);
    std::uint32_t levels = 0;
    for (const auto& [time, lines] : changes) {
        std::uint32_t changed = 0;
        for (const auto& [line, high] : lines) {
            changed |= 1u << line;
            levels = high ? levels | (1u << line) : levels & ~(1u << line);
        }
        const bus_step_t step{time, 2, changed, levels, 0};
        parbus_step(&bus, &step);
    }
    return faults;
}

// The datasheet's minimum bus times (write cycle), at the limit and one nanosecond on either
// side, at both supply ranges: one nanosecond short is a fault, the limit itself is not.
TEST(ParbusTest, BusTimesAtTheirLimits) {
    struct limit_case_t {
        const char* name; // as the fault names it
        bool low_voltage;
        std::int64_t limit_ns;
        std::int64_t margins_t::*margin;
    };
    const std::vector<limit_case_t> cases{
        {"tcycE", false, 500, &margins_t::cycle},    {"tcycE", true, 1000, &margins_t::cycle},
        {"PWEH", false, 230, &margins_t::pulse},     {"PWEH", true, 450, &margins_t::pulse},
        {"tAS", false, 40, &margins_t::setup},       {"tAS", true, 60, &margins_t::setup},
        {"tAH", false, 10, &margins_t::addr_hold},   {"tAH", true, 20, &margins_t::addr_hold},
        {"tDSW", false, 80, &margins_t::data_setup}, {"tDSW", true, 195, &margins_t::data_setup},
        {"tH", false, 10, &margins_t::data_hold},    {"tH", true, 10, &margins_t::data_hold},
    };
    for (const limit_case_t& c : cases) {
        for (const std::int64_t off_ns : {-1, 0, 1}) {
            SCOPED_TRACE(std::string(c.name) + (c.low_voltage ? " at 3.3 V, " : " at 5 V, ") +
                         std::to_string(c.limit_ns + off_ns) + " ns");
            margins_t m;
            m.*c.margin = (c.limit_ns + off_ns) * NS;
            if (c.margin == &margins_t::cycle) {
                m.pulse = (c.limit_ns / 2) * NS; // E high for half the cycle, over PWEH
                m.data_setup = m.pulse / 2;
            }
            const std::vector<std::string> faults = judge(m, c.low_voltage);
            const std::vector<std::string> expected =
                off_ns < 0 ? std::vector<std::string>{c.name} : std::vector<std::string>{};
            EXPECT_EQ(faults, expected);
        }
    }
}

} // namespace
