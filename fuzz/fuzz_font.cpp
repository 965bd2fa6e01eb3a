// A font file of any bytes, then a render of the resulting image.
#include <cstddef>
#include <cstdint>

#include <string>

#include "fuzz_util.hpp"
#include "lcd/lcdimg.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_stdout();
    static const fuzz::scratch_file font("font");
    if (!font.write(data, size)) return 0;
    static const fuzz::scratch_file profile("font-prof");
    static const bool profile_written =
        profile.write("CHCNT_X 8\nCHCNT_Y 4\nPIXSIZ_X 1\nPIXSIZ_Y 1\nCHOFS_X 2\nCHOFS_Y 2\n");
    (void)profile_written; // without it the defaults apply, which fit as well
    lcdimg_t* img = lcdimg_open(profile.path.c_str(), font.path.c_str());
    if (img == nullptr) __builtin_trap(); // this geometry always fits
    for (int code = 0; code < 32; ++code)
        lcdimg_set_text(img, code % 8, code / 8, static_cast<unsigned char>(code * 8));
    lcdimg_write_file(img, "/dev/null");
    lcdimg_close(img);
    return 0;
}
