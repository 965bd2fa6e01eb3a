// A font file of any bytes, then a render of the resulting image, encoded by the job.
#include <cstddef>
#include <cstdint>

#include <string>

#include "fuzz_util.hpp"
#include "lcd/lcdimg.hpp"

using namespace vimbra;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static constexpr char small[] =
        "CHCNT_X 8\nCHCNT_Y 4\nPIXSIZ_X 1\nPIXSIZ_Y 1\nCHOFS_X 2\nCHOFS_Y 2\n";
    const lcdimg_source_t profile{nullptr, small, sizeof small - 1};
    const lcdimg_source_t font{nullptr, reinterpret_cast<const char*>(data), size};
    lcdimg_t* img = nullptr;
    // This geometry always fits, and a font text is always read.
    if (lcdimg_open_from(&profile, &font, &img, nullptr, 0) != LCDIMG_OPENED) __builtin_trap();
    for (int code = 0; code < 32; ++code)
        lcdimg_set_text(img, code % 8, code / 8, static_cast<unsigned char>(code * 8));
    fuzz::render_and_encode(img, size % 2 == 0 ? JOB_FORMAT_BMP : JOB_FORMAT_PNG);
    lcdimg_close(img);
    return 0;
}
