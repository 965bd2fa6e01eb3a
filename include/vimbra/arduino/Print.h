// The Print interface of the host Arduino environment, as the Arduino language reference
// documents it: a class gives write(uint8_t) and gets print and println of characters,
// strings, integers in a base and floating point with a number of digits.
//
// Where the boards differ, this is the 32-bit boards' behaviour: a negative int or long in a
// base other than DEC is printed as 32 bits (print(-1, HEX) is FFFFFFFF), and floating point
// is the host's double. Bases are 2 to 36; base 0 writes the value's low byte, as the
// reference's old BYTE did, and any other base is DEC.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#define DEC 10
#define HEX 16
#define OCT 8
#define BIN 2

class String;
class Print;

// Text kept in flash on the boards: F("text") is the text itself here.
class __FlashStringHelper;
#define F(text) (reinterpret_cast<const __FlashStringHelper*>(text))
#define PSTR(text) (text)

// A value that knows how to print itself.
class Printable {
  public:
    virtual ~Printable() = default;
    virtual size_t printTo(Print& out) const = 0;
};

namespace vimbra::arduino {
// The text of integers and floating point as Print writes them, into `text` (at least
// NUMBER_TEXT_SIZE bytes), terminated; the return value is its length.
constexpr size_t NUMBER_TEXT_SIZE = 72;
size_t number_text(char* text, long long value, int base, bool as_32_bits);
size_t number_text(char* text, unsigned long long value, int base);
size_t float_text(char* text, double value, int digits);
} // namespace vimbra::arduino

class Print {
  public:
    virtual ~Print() = default;

    // One byte out; returns the number written (1, or 0 when it could not be).
    virtual size_t write(uint8_t value) = 0;
    // Bytes out, one write(uint8_t) each unless the class does better.
    virtual size_t write(const uint8_t* buffer, size_t size);
    size_t write(const char* text) { return text == nullptr ? 0 : write(text, strlen(text)); }
    size_t write(const char* buffer, size_t size) {
        return write(reinterpret_cast<const uint8_t*>(buffer), size);
    }
    // write(0) and write('A') as one byte (on the boards write(0) is ambiguous: write(byte(0))
    // keeps a sketch portable).
    size_t write(int value) { return write(static_cast<uint8_t>(value)); }
    size_t write(unsigned value) { return write(static_cast<uint8_t>(value)); }
    size_t write(long value) { return write(static_cast<uint8_t>(value)); }
    size_t write(unsigned long value) { return write(static_cast<uint8_t>(value)); }
    size_t write(long long value) { return write(static_cast<uint8_t>(value)); }
    size_t write(unsigned long long value) { return write(static_cast<uint8_t>(value)); }

    virtual int availableForWrite() { return 0; }
    virtual void flush() {}
    int getWriteError() const { return write_error_; }
    void clearWriteError() { write_error_ = 0; }

    size_t print(const __FlashStringHelper* text);
    size_t print(const String& text);
    size_t print(const std::string& text) { return write(text.data(), text.size()); }
    size_t print(const char text[]) { return write(text); }
    size_t print(char c) { return write(static_cast<uint8_t>(c)); }
    size_t print(unsigned char value, int base = DEC);
    size_t print(int value, int base = DEC);
    size_t print(unsigned int value, int base = DEC);
    size_t print(long value, int base = DEC);
    size_t print(unsigned long value, int base = DEC);
    size_t print(long long value, int base = DEC);
    size_t print(unsigned long long value, int base = DEC);
    size_t print(double value, int digits = 2);
    size_t print(const Printable& value) { return value.printTo(*this); }

    // The same followed by a carriage return and a line feed.
    size_t println(const __FlashStringHelper* text) { return print(text) + println(); }
    size_t println(const String& text);
    size_t println(const std::string& text) { return print(text) + println(); }
    size_t println(const char text[]) { return print(text) + println(); }
    size_t println(char c) { return print(c) + println(); }
    size_t println(unsigned char value, int base = DEC) { return print(value, base) + println(); }
    size_t println(int value, int base = DEC) { return print(value, base) + println(); }
    size_t println(unsigned int value, int base = DEC) { return print(value, base) + println(); }
    size_t println(long value, int base = DEC) { return print(value, base) + println(); }
    size_t println(unsigned long value, int base = DEC) { return print(value, base) + println(); }
    size_t println(long long value, int base = DEC) { return print(value, base) + println(); }
    size_t println(unsigned long long value, int base = DEC) {
        return print(value, base) + println();
    }
    size_t println(double value, int digits = 2) { return print(value, digits) + println(); }
    size_t println(const Printable& value) { return print(value) + println(); }
    size_t println() { return write("\r\n"); }

    // printf of the 32-bit boards' cores, at most 255 characters.
    size_t printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  protected:
    void setWriteError(int error = 1) { write_error_ = error; }

  private:
    int write_error_ = 0;
};

#include "WString.h"

inline size_t Print::print(const String& text) {
    return write(text.c_str(), text.length());
}
inline size_t Print::println(const String& text) {
    return print(text) + println();
}
