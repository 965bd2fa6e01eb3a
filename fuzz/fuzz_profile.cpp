// A profile of any bytes, then a render of the resulting image.
#include <cstddef>
#include <cstdint>

#include "fuzz_util.hpp"
#include "lcd/lcdimg.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_stdout();
    const std::string path = fuzz::scratch_path("profile");
    if (!fuzz::write_file(path, data, size)) return 0;
    lcdimg_t* img = lcdimg_open(path.c_str(), "");
    if (img == nullptr) return 0;
    for (int x = 0; x < 4; ++x) lcdimg_set_text(img, x, 0, static_cast<unsigned char>('A' + x));
    // Scripts named by a fuzzed profile are not run here: the interpreter has its own target,
    // and a script may loop for ever.
    img->script_path[0] = '\0';
    lcdimg_write_file(img, "/dev/null");
    lcdimg_close(img);
    return 0;
}
