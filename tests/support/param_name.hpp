// Readable names for table-driven tests: the case's number, then its input text with every
// character that a test name cannot hold as '_' ("3_CHCNT_X_20"), so that a failing case is
// found in the table at a glance.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>


inline std::string param_name(std::size_t index, const std::string& text) {
    constexpr std::size_t MOST = 40;
    std::string name = std::to_string(index);
    for (std::size_t i = 0; i < text.size() && i < MOST; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        name += std::isalnum(c) != 0 && c < 0x80 ? static_cast<char>(c) : '_';
    }
    return name;
}
