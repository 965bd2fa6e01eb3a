#include "base/shown.hpp"

#include <array>

namespace vimbra {

std::string shown_text(std::string_view text, std::size_t limit, bool keep_end) {
    const bool cut = text.size() > limit;
    if (cut && keep_end) {
        std::size_t start = text.size() - limit;
        // Not inside a UTF-8 sequence: on to the start of the next character.
        while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
            ++start;
        }
        return "..." + shown_text(text.substr(start), limit);
    }
    std::size_t end = text.size();
    if (cut) {
        end = limit;
        // Not inside a UTF-8 sequence: back to the start of the character.
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            --end;
        }
    }
    constexpr std::array<char, 17> HEX{"0123456789ABCDEF"};
    std::string out;
    out.reserve(end + (cut ? 3 : 0));
    for (std::size_t i = 0; i < end; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != 0x7F) {
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += HEX[c >> 4];
            out += HEX[c & 0x0F];
        }
    }
    if (cut) {
        out += "...";
    }
    return out;
}

} // namespace vimbra
