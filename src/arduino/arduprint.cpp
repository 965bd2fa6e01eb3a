// The library's own files take Arduino.h without the reference that links main().
#define VIMBRA_ARDUINO_NO_MAIN
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "arduino/arduhost.hpp"
#include "vimbra/arduino/Arduino.h"

namespace {

constexpr char DIGITS[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// The digits of `value` in `base` at the end of `text`, then moved to its start; returns
// the length. 64 binary digits at most.
size_t unsigned_text(char* text, unsigned long long value, int base) {
    char reversed[64];
    size_t n = 0;
    do {
        reversed[n++] = DIGITS[value % static_cast<unsigned>(base)];
        value /= static_cast<unsigned>(base);
    } while (value != 0);
    for (size_t i = 0; i < n; ++i) {
        text[i] = reversed[n - 1 - i];
    }
    text[n] = '\0';
    return n;
}

int checked_base(int base) {
    return base >= 2 && base <= 36 ? base : 10;
}

// Floating point beyond this prints "ovf": the integer part is printed as 32 bits, and this
// is the largest 32-bit float below 2^32.
constexpr double FLOAT_LIMIT = 4294967040.0;
constexpr int MAX_DIGITS = 50; // decimals; fits NUMBER_TEXT_SIZE with 10 integer digits

namespace board = vimbra::arduino;

void spend_serial(size_t bytes) {
    // Ten bits a byte: start, eight data bits, stop.
    board::host_spend(static_cast<std::uint64_t>(bytes) * 10000000ULL / board::host_serial_baud());
}

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

} // namespace

namespace vimbra::arduino {

size_t number_text(char* text, long long value, int base, bool as_32_bits) {
    base = checked_base(base);
    if (value >= 0) {
        return unsigned_text(text, static_cast<unsigned long long>(value), base);
    }
    if (base == 10) {
        text[0] = '-';
        // The magnitude in unsigned arithmetic, which also holds the most negative value's.
        return 1 + unsigned_text(text + 1, 0ULL - static_cast<unsigned long long>(value), 10);
    }
    // Other bases print the two's complement, of 32 bits where a board's long has them.
    if (as_32_bits && value >= INT32_MIN) {
        return unsigned_text(text, static_cast<std::uint32_t>(value), base);
    }
    return unsigned_text(text, static_cast<unsigned long long>(value), base);
}

size_t number_text(char* text, unsigned long long value, int base) {
    return unsigned_text(text, value, checked_base(base));
}

size_t float_text(char* text, double value, int digits) {
    const char* word = nullptr;
    if (std::isnan(value)) {
        word = "nan";
    } else if (std::isinf(value)) {
        word = "inf";
    } else if (value > FLOAT_LIMIT || value < -FLOAT_LIMIT) {
        word = "ovf";
    }
    if (word != nullptr) {
        std::snprintf(text, NUMBER_TEXT_SIZE, "%s", word);
        return 3;
    }
    digits = digits < 0 ? 0 : (digits > MAX_DIGITS ? MAX_DIGITS : digits);
    size_t n = 0;
    if (value < 0) {
        text[n++] = '-';
        value = -value;
    }
    // Half a unit of the last decimal rounds up, then the digits are cut off one by one.
    double half = 0.5;
    for (int i = 0; i < digits; ++i) {
        half /= 10.0;
    }
    value += half;
    const auto whole = static_cast<unsigned long long>(value);
    double rest = value - static_cast<double>(whole);
    n += unsigned_text(text + n, whole, 10);
    if (digits > 0) {
        text[n++] = '.';
    }
    for (int i = 0; i < digits; ++i) {
        rest *= 10.0;
        int digit = static_cast<int>(rest);
        digit = digit < 0 ? 0 : (digit > 9 ? 9 : digit);
        text[n++] = static_cast<char>('0' + digit);
        rest -= digit;
    }
    text[n] = '\0';
    return n;
}

} // namespace vimbra::arduino

using vimbra::arduino::NUMBER_TEXT_SIZE;

size_t Print::write(const uint8_t* buffer, size_t size) {
    size_t n = 0;
    while (buffer != nullptr && n < size && write(buffer[n]) == 1) {
        ++n;
    }
    return n;
}

size_t Print::print(const __FlashStringHelper* text) {
    return write(reinterpret_cast<const char*>(text));
}

size_t Print::print(unsigned char value, int base) {
    return print(static_cast<unsigned long long>(value), base);
}
size_t Print::print(int value, int base) {
    return print(static_cast<long>(value), base);
}
size_t Print::print(unsigned int value, int base) {
    return print(static_cast<unsigned long long>(value), base);
}
size_t Print::print(unsigned long value, int base) {
    return print(static_cast<unsigned long long>(value), base);
}

size_t Print::print(long value, int base) {
    if (base == 0) {
        return write(static_cast<uint8_t>(value));
    }
    char text[NUMBER_TEXT_SIZE];
    return write(text, vimbra::arduino::number_text(text, value, base, true));
}

size_t Print::print(long long value, int base) {
    if (base == 0) {
        return write(static_cast<uint8_t>(value));
    }
    char text[NUMBER_TEXT_SIZE];
    return write(text, vimbra::arduino::number_text(text, value, base, false));
}

size_t Print::print(unsigned long long value, int base) {
    if (base == 0) {
        return write(static_cast<uint8_t>(value));
    }
    char text[NUMBER_TEXT_SIZE];
    return write(text, vimbra::arduino::number_text(text, value, base));
}

size_t Print::print(double value, int digits) {
    char text[NUMBER_TEXT_SIZE];
    return write(text, vimbra::arduino::float_text(text, value, digits));
}

size_t Print::printf(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n <= 0) {
        return 0;
    }
    return write(text,
                 static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}

int Stream::timedRead() {
    const unsigned long start = millis();
    do {
        const int c = read();
        if (c >= 0) {
            return c;
        }
    } while (millis() - start < timeout_ms_);
    return -1;
}

int Stream::timedPeek() {
    const unsigned long start = millis();
    do {
        const int c = peek();
        if (c >= 0) {
            return c;
        }
    } while (millis() - start < timeout_ms_);
    return -1;
}

bool Stream::find(const char* target) {
    if (target == nullptr || *target == '\0') {
        return true;
    }
    // A naive match that restarts at the byte that broke it: enough for the targets sketches
    // look for.
    size_t matched = 0;
    for (;;) {
        const int c = timedRead();
        if (c < 0) {
            return false;
        }
        if (c == static_cast<unsigned char>(target[matched])) {
            if (target[++matched] == '\0') {
                return true;
            }
        } else {
            matched = c == static_cast<unsigned char>(target[0]) ? 1 : 0;
            if (matched == 1 && target[1] == '\0') {
                return true;
            }
        }
    }
}

size_t Stream::readBytes(char* buffer, size_t length) {
    size_t n = 0;
    while (buffer != nullptr && n < length) {
        const int c = timedRead();
        if (c < 0) {
            break;
        }
        buffer[n++] = static_cast<char>(c);
    }
    return n;
}

size_t Stream::readBytesUntil(char terminator, char* buffer, size_t length) {
    size_t n = 0;
    while (buffer != nullptr && n < length) {
        const int c = timedRead();
        if (c < 0 || c == static_cast<unsigned char>(terminator)) {
            break;
        }
        buffer[n++] = static_cast<char>(c);
    }
    return n;
}

String Stream::readString() {
    std::string text;
    for (int c = timedRead(); c >= 0; c = timedRead()) {
        text += static_cast<char>(c);
    }
    return String(text);
}

String Stream::readStringUntil(char terminator) {
    std::string text;
    for (int c = timedRead(); c >= 0 && c != static_cast<unsigned char>(terminator);
         c = timedRead()) {
        text += static_cast<char>(c);
    }
    return String(text);
}

long Stream::parseInt() {
    int c = timedPeek();
    while (c >= 0 && c != '-' && !is_digit(c)) {
        read();
        c = timedPeek();
    }
    if (c < 0) {
        return 0;
    }
    bool negative = false;
    unsigned long value = 0; // wraps as a board's long does, with no undefined overflow
    for (;;) {
        if (c == '-' && !negative && value == 0) {
            negative = true;
        } else if (is_digit(c)) {
            value = value * 10 + static_cast<unsigned long>(c - '0');
        } else {
            break;
        }
        read();
        c = timedPeek();
    }
    return static_cast<long>(negative ? 0UL - value : value);
}

float Stream::parseFloat() {
    int c = timedPeek();
    while (c >= 0 && c != '-' && c != '.' && !is_digit(c)) {
        read();
        c = timedPeek();
    }
    if (c < 0) {
        return 0;
    }
    bool negative = false;
    bool fraction = false;
    double value = 0;
    double scale = 1;
    for (;;) {
        if (c == '-' && !negative && value == 0 && !fraction) {
            negative = true;
        } else if (c == '.' && !fraction) {
            fraction = true;
        } else if (is_digit(c)) {
            if (fraction) {
                scale /= 10;
                value += (c - '0') * scale;
            } else {
                value = value * 10 + (c - '0');
            }
        } else {
            break;
        }
        read();
        c = timedPeek();
    }
    return static_cast<float>(negative ? -value : value);
}

HardwareSerial Serial;

void HardwareSerial::begin(unsigned long baud, uint8_t config) {
    (void)config;
    board::host_serial_baud(baud);
}

void HardwareSerial::flush() {}

int HardwareSerial::available() {
    board::host_spend(board::HOST_CALL_US);
    return board::host_serial_available();
}

int HardwareSerial::read() {
    board::host_spend(board::HOST_CALL_US);
    return board::host_serial_read();
}

int HardwareSerial::peek() {
    board::host_spend(board::HOST_CALL_US);
    return board::host_serial_peek();
}

HardwareSerial::operator bool() {
    board::host_spend(board::HOST_CALL_US);
    return true;
}

size_t HardwareSerial::write(uint8_t value) {
    return write(&value, 1);
}

size_t HardwareSerial::write(const uint8_t* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    board::host_serial_out(reinterpret_cast<const char*>(buffer), size);
    spend_serial(size);
    return size;
}
