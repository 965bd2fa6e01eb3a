// The interpreter on any script and any input, with a bounded number of steps,
// drawing on a small image. Input layout: script bytes, then an optional 0xFF byte
// followed by the bytes standard input delivers.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/console.hpp"
#include "fuzz_util.hpp"
#include "lcd/lcdimg.hpp"
#include "script/core.hpp"
#include "script/kestbasic.hpp"
#include "script/progedit.hpp"

using namespace vimbra;

namespace {

constexpr int kMaxSteps = 100000;

// What the script reads: the input's bytes after the split.
struct input_t {
    const std::uint8_t* next;
    const std::uint8_t* end;
};
input_t input{};

lcdimg_t* small_image() {
    static lcdimg_t* img = [] {
        const char* text = "CHCNT_X 4\nCHCNT_Y 1\n";
        const lcdimg_source_t profile{nullptr, text, std::strlen(text)};
        lcdimg_t* opened = nullptr;
        (void)lcdimg_open_from(&profile, nullptr, &opened, nullptr, 0);
        return opened;
    }();
    return img;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lcdimg_t* img = small_image();
    if (img == nullptr) __builtin_trap();
    const auto* split = static_cast<const std::uint8_t*>(std::memchr(data, 0xFF, size));
    std::size_t script_size = split != nullptr ? static_cast<std::size_t>(split - data) : size;
    input = split != nullptr ? input_t{split + 1, data + size} : input_t{data + size, data + size};

    progedit_t store;
    progedit_init(&store);
    fuzz::for_each_line(data, script_size,
                        [&store](const char* line) { progedit_insert(&store, line); });

    static kestbasic_t kb; // large; one per process is enough
    // The script's output is dropped; its input is the bytes after the split.
    static const console_t console{[](const char*, std::size_t, void*) { return 0; }, nullptr,
                                   [](void* ctx) {
                                       auto* in = static_cast<input_t*>(ctx);
                                       return in->next < in->end ? int{*in->next++} : -1;
                                   },
                                   &input};
    int rc = kestbasic_setup(&kb, store.text.data(), img);
    kb.hal.console = &console;
    for (int step = 0; rc == 0 && step < kMaxSteps; ++step)
        rc = kestbasic_execute(&kb);
    std::array<char, 8192> message{};
    if (rc != 0 && kestbasic_get_error_message(&kb, rc, message.data(), 8192) != 0)
        __builtin_trap();
    return 0;
}
