// The program store fed a whole script, line by line as the runner feeds it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_util.hpp"
#include "script/progedit.hpp"

using namespace vimbra;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    progedit_t store;
    progedit_init(&store);
    fuzz::for_each_line(data, size, [&store](const char* line) { progedit_insert(&store, line); });
    // The store's guarantees the interpreter relies on.
    const char* text = store.text.data();
    std::size_t len = strnlen(text, store.text.size());
    if (len >= store.text.size()) __builtin_trap();
    if (len > 0 && text[len - 1] != '\n') __builtin_trap();
    std::array<char, 8192> out{};
    for (int i = 0; progedit_fetch(&store, i, out.data(), static_cast<int>(out.size())) == 0; ++i) {
        std::size_t n = std::strlen(out.data());
        if (n == 0 || n > PROGEDIT_LINE_MAX || std::strchr(out.data(), ' ') == nullptr ||
            std::strchr(out.data(), '\r') != nullptr)
            __builtin_trap();
    }
    return 0;
}
