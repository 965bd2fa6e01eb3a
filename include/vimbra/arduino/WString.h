// A small String of the host Arduino environment: the constructors, concatenation,
// comparison and look-ups that display code uses, with numbers made as Print makes them.
#pragma once

#include <stddef.h>
#include <stdlib.h>

#include <string>

#include "Print.h"

class String {
  public:
    String(const char* text = "") : text_(text == nullptr ? "" : text) {}
    String(const std::string& text) : text_(text) {}
    String(const __FlashStringHelper* text) : String(reinterpret_cast<const char*>(text)) {}
    explicit String(char c) : text_(1, c) {}
    explicit String(unsigned char value, unsigned char base = DEC)
        : String(static_cast<unsigned long long>(value), base) {}
    explicit String(int value, unsigned char base = DEC)
        : String(static_cast<long long>(value), base, true) {}
    explicit String(unsigned int value, unsigned char base = DEC)
        : String(static_cast<unsigned long long>(value), base) {}
    explicit String(long value, unsigned char base = DEC)
        : String(static_cast<long long>(value), base, true) {}
    explicit String(unsigned long value, unsigned char base = DEC)
        : String(static_cast<unsigned long long>(value), base) {}
    explicit String(long long value, unsigned char base = DEC) : String(value, base, false) {}
    explicit String(unsigned long long value, unsigned char base = DEC) {
        char text[vimbra::arduino::NUMBER_TEXT_SIZE];
        text_.assign(text, vimbra::arduino::number_text(text, value, base));
    }
    explicit String(double value, unsigned char digits = 2) {
        char text[vimbra::arduino::NUMBER_TEXT_SIZE];
        text_.assign(text, vimbra::arduino::float_text(text, value, digits));
    }
    explicit String(float value, unsigned char digits = 2)
        : String(static_cast<double>(value), digits) {}

    unsigned int length() const { return static_cast<unsigned int>(text_.size()); }
    const char* c_str() const { return text_.c_str(); }
    char charAt(unsigned int index) const { return index < text_.size() ? text_[index] : '\0'; }
    char operator[](unsigned int index) const { return charAt(index); }
    void setCharAt(unsigned int index, char c) {
        if (index < text_.size()) {
            text_[index] = c;
        }
    }
    // From `from` up to (not including) `to`, both clamped to the text; swapped when reversed.
    String substring(unsigned int from, unsigned int to) const {
        if (from > to) {
            const unsigned int t = from;
            from = to;
            to = t;
        }
        if (from >= text_.size()) {
            return String();
        }
        return String(text_.substr(from, to - from));
    }
    String substring(unsigned int from) const { return substring(from, length()); }
    // The position of the first `c` or text from `from` on, or -1.
    int indexOf(char c, unsigned int from = 0) const { return found(text_.find(c, from)); }
    int indexOf(const String& text, unsigned int from = 0) const {
        return found(text_.find(text.text_, from));
    }
    bool equals(const String& other) const { return text_ == other.text_; }
    bool operator==(const String& other) const { return text_ == other.text_; }
    bool operator!=(const String& other) const { return text_ != other.text_; }
    bool operator==(const char* other) const { return text_ == (other == nullptr ? "" : other); }
    bool operator!=(const char* other) const { return !(*this == other); }
    // The number the text starts with, after blanks; 0 when there is none.
    long toInt() const { return strtol(text_.c_str(), nullptr, 10); }
    double toFloat() const { return strtod(text_.c_str(), nullptr); }
    void trim() {
        const size_t first = text_.find_first_not_of(" \t\r\n");
        if (first == std::string::npos) {
            text_.clear();
            return;
        }
        text_ = text_.substr(first, text_.find_last_not_of(" \t\r\n") - first + 1);
    }

    String& operator+=(const String& other) { return concat(other); }
    String& operator+=(const char* other) { return concat(String(other)); }
    String& operator+=(char c) { return concat(String(c)); }
    String& operator+=(int value) { return concat(String(value)); }
    String& operator+=(unsigned int value) { return concat(String(value)); }
    String& operator+=(long value) { return concat(String(value)); }
    String& operator+=(unsigned long value) { return concat(String(value)); }
    String& operator+=(double value) { return concat(String(value)); }
    String& concat(const String& other) {
        text_ += other.text_;
        return *this;
    }
    template <typename T> String& concat(const T& value) { return *this += value; }

    operator std::string() const { return text_; }

  private:
    String(long long value, unsigned char base, bool as_32_bits) {
        char text[vimbra::arduino::NUMBER_TEXT_SIZE];
        text_.assign(text, vimbra::arduino::number_text(text, value, base, as_32_bits));
    }
    static int found(size_t at) { return at == std::string::npos ? -1 : static_cast<int>(at); }

    std::string text_;
};

template <typename T> String operator+(String left, const T& right) {
    left += right;
    return left;
}
inline String operator+(const char* left, const String& right) {
    String sum(left);
    sum += right;
    return sum;
}
