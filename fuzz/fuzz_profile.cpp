// A profile of any bytes, then a render of the resulting image.
#include <cstddef>
#include <cstdint>

#include <string>

#include "fuzz_util.hpp"
#include "lcd/lcdimg.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_stdout();
    // A small picture unless the input says otherwise (the later line wins), so that
    // most inputs render in microseconds.
    static constexpr char small[] = "CHCNT_X 3\nCHCNT_Y 1\nCHOFS_X 2\nCHOFS_Y 2\n";
    std::string text(small);
    text.append(reinterpret_cast<const char*>(data), size);
    const lcdimg_source_t profile{nullptr, text.data(), text.size()};
    lcdimg_t* img = nullptr;
    if (lcdimg_open_from(&profile, nullptr, &img, nullptr, 0) != LCDIMG_OPENED) return 0;
    for (int x = 0; x < 4; ++x)
        lcdimg_set_text(img, x, 0, static_cast<unsigned char>('A' + x));
    // Scripts named by a fuzzed profile are not run here: the interpreter has its own target,
    // and a script may loop for ever.
    img->script_path[0] = '\0';
    lcdimg_write_file(img, "/dev/null");
    lcdimg_close(img);
    return 0;
}
