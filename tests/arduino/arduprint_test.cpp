#include "vimbra/arduino/Print.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <ostream>
#include <string>

namespace {

// Keeps what is printed.
class text_print_t : public Print {
  public:
    size_t write(uint8_t value) override {
        text += static_cast<char>(value);
        return 1;
    }
    using Print::write;
    std::string text;
};

struct print_case_t {
    const char* name;
    size_t (*call)(Print& out);
    std::string expected;
};

// A failure names the case, not its bytes.
void PrintTo(const print_case_t& c, std::ostream* out) {
    *out << c.name;
}

class PrintTable : public ::testing::TestWithParam<print_case_t> {};

// The text, and the count of bytes that print returns.
TEST_P(PrintTable, PrintsAsTheReferenceSays) {
    text_print_t out;
    const size_t count = GetParam().call(out);
    EXPECT_EQ(out.text, GetParam().expected);
    EXPECT_EQ(count, GetParam().expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PrintTable,
    ::testing::Values(
        // The reference's own examples.
        print_case_t{"Bin", [](Print& o) { return o.print(78, BIN); }, "1001110"},
        print_case_t{"Oct", [](Print& o) { return o.print(78, OCT); }, "116"},
        print_case_t{"Dec", [](Print& o) { return o.print(78, DEC); }, "78"},
        print_case_t{"Hex", [](Print& o) { return o.print(78, HEX); }, "4E"},
        print_case_t{"NoDecimals", [](Print& o) { return o.print(1.23456, 0); }, "1"},
        print_case_t{"TwoDecimals", [](Print& o) { return o.print(1.23456, 2); }, "1.23"},
        print_case_t{"FourDecimals", [](Print& o) { return o.print(1.23456, 4); }, "1.2346"},
        print_case_t{"Integer", [](Print& o) { return o.print(78); }, "78"},
        print_case_t{"FloatDefault", [](Print& o) { return o.print(1.23456); }, "1.23"},
        print_case_t{"Char", [](Print& o) { return o.print('N'); }, "N"},
        print_case_t{"Text", [](Print& o) { return o.print("Hello world."); }, "Hello world."},
        print_case_t{"Println", [](Print& o) { return o.println("Hello"); }, "Hello\r\n"},
        print_case_t{"PrintlnAlone", [](Print& o) { return o.println(); }, "\r\n"},
        print_case_t{"PrintlnNumber", [](Print& o) { return o.println(12, HEX); }, "C\r\n"},
        // Signs, bases and widths.
        print_case_t{"Negative", [](Print& o) { return o.print(-42); }, "-42"},
        print_case_t{"Zero", [](Print& o) { return o.print(0, HEX); }, "0"},
        print_case_t{"NegativeHexIs32Bits", [](Print& o) { return o.print(-1, HEX); }, "FFFFFFFF"},
        print_case_t{"NegativeLongOct", [](Print& o) { return o.print(-5L, OCT); }, "37777777773"},
        print_case_t{"LongLongHex", [](Print& o) { return o.print(-1LL, HEX); },
                     "FFFFFFFFFFFFFFFF"},
        print_case_t{"MostNegative", [](Print& o) { return o.print(LLONG_MIN); },
                     "-9223372036854775808"},
        print_case_t{"LargestUnsigned", [](Print& o) { return o.print(ULLONG_MAX, BIN); },
                     std::string(64, '1')},
        print_case_t{"ByteIsANumber", [](Print& o) { return o.print(uint8_t{200}); }, "200"},
        print_case_t{"ByteInHex", [](Print& o) { return o.print(uint8_t{10}, HEX); }, "A"},
        print_case_t{"BoolIsANumber", [](Print& o) { return o.print(true); }, "1"},
        print_case_t{"BaseZeroWritesTheByte", [](Print& o) { return o.print(65, 0); }, "A"},
        print_case_t{"Base36", [](Print& o) { return o.print(35u, 36); }, "Z"},
        print_case_t{"BaseOneIsDecimal", [](Print& o) { return o.print(-10, 1); }, "-10"},
        print_case_t{"BaseTooLargeIsDecimal", [](Print& o) { return o.print(99, 37); }, "99"},
        // Floating point: half a unit of the last decimal rounds up.
        print_case_t{"FloatLcd", [](Print& o) { return o.print(21.5); }, "21.50"},
        print_case_t{"HalfRoundsUp", [](Print& o) { return o.print(2.5, 0); }, "3"},
        print_case_t{"EighthRoundsUp", [](Print& o) { return o.print(0.125, 2); }, "0.13"},
        print_case_t{"CarryIntoTheWholePart", [](Print& o) { return o.print(99.996, 2); },
                     "100.00"},
        print_case_t{"NegativeFraction", [](Print& o) { return o.print(-0.5, 1); }, "-0.5"},
        print_case_t{"TinyIsZero", [](Print& o) { return o.print(1e-7, 3); }, "0.000"},
        print_case_t{"FloatArgument", [](Print& o) { return o.print(1.5f, 1); }, "1.5"},
        print_case_t{"NegativeDigitsAreNone", [](Print& o) { return o.print(7.25, -3); }, "7"},
        print_case_t{"NotANumber", [](Print& o) { return o.print(std::nan("")); }, "nan"},
        print_case_t{"Infinite", [](Print& o) { return o.print(-HUGE_VAL); }, "inf"},
        print_case_t{"Overflow", [](Print& o) { return o.print(5e9); }, "ovf"},
        print_case_t{"NegativeOverflow", [](Print& o) { return o.print(-4294967296.0, 0); }, "ovf"},
        print_case_t{"LargestInRange", [](Print& o) { return o.print(4294967040.0, 0); },
                     "4294967040"},
        // Strings of every kind.
        print_case_t{"StdStringKeepsNul", [](Print& o) { return o.print(std::string("ab\0c", 4)); },
                     std::string("ab\0c", 4)},
        print_case_t{"FlashString", [](Print& o) { return o.print(F("flash")); }, "flash"},
        print_case_t{"NullText",
                     [](Print& o) { return o.print(static_cast<const char*>(nullptr)); }, ""},
        print_case_t{"StringNumbers",
                     [](Print& o) { return o.print(String("T=") + 21.5 + 'C' + String(255, HEX)); },
                     "T=21.50CFF"},
        print_case_t{"StringDecimals", [](Print& o) { return o.print(String(3.14159, 3)); },
                     "3.142"},
        print_case_t{"StringNegative", [](Print& o) { return o.println(String(-12) + "C"); },
                     "-12C\r\n"},
        print_case_t{"StringLookups",
                     [](Print& o) {
                         const String s("  menu: Settings ");
                         String tail = s.substring(8);
                         tail.trim();
                         return o.print(tail + String(s.indexOf(':')) + String(tail.length()) +
                                        String(s.substring(99).length()));
                     },
                     "Settings6"
                     "8"
                     "0"},
        print_case_t{"Printf", [](Print& o) { return o.printf("%03d|%s", 7, "x"); }, "007|x"},
        print_case_t{"WriteZeroIsAByte", [](Print& o) { return o.write(0); },
                     std::string(1, '\0')}),
    [](const ::testing::TestParamInfo<print_case_t>& param) { return param.param.name; });

} // namespace
