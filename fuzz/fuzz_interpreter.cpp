// The interpreter on any script and any standard input, with a bounded number of steps,
// drawing on a small image. Input layout: script bytes, then an optional 0xFF byte
// followed by the bytes standard input delivers.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_util.hpp"
#include "lcd/lcdimg.hpp"
#include "script/core.hpp"
#include "script/kestbasic.hpp"
#include "script/progedit.hpp"

namespace {

constexpr int kMaxSteps = 100000;

lcdimg_t* small_image() {
    static lcdimg_t* img = [] {
        const fuzz::scratch_file profile("interp-prof");
        profile.write("CHCNT_X 4\nCHCNT_Y 1\n");
        return lcdimg_open(profile.path.c_str(), "");
    }();
    return img;
}

void feed_stdin(const std::uint8_t* data, std::size_t size) {
    static const fuzz::scratch_file input("stdin");
    if (!input.write(data, size)) __builtin_trap();
    if (std::freopen(input.path.c_str(), "rb", stdin) == nullptr) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_stdout();
    lcdimg_t* img = small_image();
    if (img == nullptr) __builtin_trap();
    const auto* split = static_cast<const std::uint8_t*>(std::memchr(data, 0xFF, size));
    std::size_t script_size = split != nullptr ? static_cast<std::size_t>(split - data) : size;
    if (split != nullptr)
        feed_stdin(split + 1, size - script_size - 1);
    else
        feed_stdin(nullptr, 0);

    progedit_t store;
    progedit_init(&store);
    fuzz::for_each_line(data, script_size,
                        [&store](const char* line) { progedit_insert(&store, line); });

    static kestbasic_t kb; // large; one per process is enough
    int rc = kestbasic_setup(&kb, store.text.data(), img);
    for (int step = 0; rc == 0 && step < kMaxSteps; ++step)
        rc = kestbasic_execute(&kb);
    std::array<char, 8192> message{};
    if (rc != 0 && kestbasic_get_error_message(&kb, rc, message.data(), 8192) != 0)
        __builtin_trap();
    return 0;
}
