// A font file of any bytes, then a render of the resulting image.
#include <cstddef>
#include <cstdint>

#include <string>

#include "fuzz_util.hpp"
#include "lcd/lcdimg.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_stdout();
    const std::string path = fuzz::scratch_path("font");
    if (!fuzz::write_file(path, data, size)) return 0;
    static const std::string profile = [] {
        const std::string p = fuzz::scratch_path("font-prof");
        const char text[] = "CHCNT_X 8\nCHCNT_Y 4\nPIXSIZ_X 1\nPIXSIZ_Y 1\nCHOFS_X 2\nCHOFS_Y 2\n";
        fuzz::write_file(p, reinterpret_cast<const std::uint8_t*>(text), sizeof text - 1);
        return p;
    }();
    lcdimg_t* img = lcdimg_open(profile.c_str(), path.c_str());
    if (img == nullptr) __builtin_trap(); // this geometry always fits
    for (int code = 0; code < 32; ++code)
        lcdimg_set_text(img, code % 8, code / 8, static_cast<unsigned char>(code * 8));
    lcdimg_write_file(img, "/dev/null");
    lcdimg_close(img);
    return 0;
}
