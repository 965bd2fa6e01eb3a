// A font file of any bytes, then a render of the resulting image.
#include <cstddef>
#include <cstdint>

#include "fuzz_util.hpp"
#include "lcd/lcdimg.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_stdout();
    const std::string path = fuzz::scratch_path("font");
    if (!fuzz::write_file(path, data, size)) return 0;
    lcdimg_t* img = lcdimg_open("", path.c_str());
    if (img == nullptr) __builtin_trap(); // the default geometry always fits
    for (int code = 0; code < 32; ++code)
        lcdimg_set_text(img, code % 16, code / 16, static_cast<unsigned char>(code * 8));
    lcdimg_write_file(img, "/dev/null");
    lcdimg_close(img);
    return 0;
}
