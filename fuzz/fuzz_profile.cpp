// A profile of any bytes, rows placed on it, then a render of the picture, encoded by the job.
#include <cstddef>
#include <cstdint>

#include <string>

#include "fuzz_util.hpp"
#include "lcd/lcdimg.hpp"

using namespace vimbra;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A small picture unless the input says otherwise (the later line wins), so that
    // most inputs render in microseconds.
    static constexpr char small[] = "CHCNT_X 3\nCHCNT_Y 1\nCHOFS_X 2\nCHOFS_Y 2\n";
    std::string text(small);
    text.append(reinterpret_cast<const char*>(data), size);
    const lcdimg_source_t profile{nullptr, text.data(), text.size()};
    lcdimg_t* img = nullptr;
    if (lcdimg_open_from(&profile, nullptr, &img, nullptr, 0) != LCDIMG_OPENED) return 0;
    // Rows as the command line places them: a refusal is a typed status.
    static constexpr const char* rows[] = {"AB\\x43D", "\\x41"};
    const job_status_t placed = job_place_rows(img, rows, 2, nullptr);
    if (placed != JOB_DONE && placed != JOB_BAD_ROWS && placed != JOB_NO_MEMORY) __builtin_trap();
    // Scripts named by a fuzzed profile are not run here: the interpreter has its own target,
    // and a script may loop for ever.
    img->script_path[0] = '\0';
    fuzz::render_and_encode(img, size % 2 == 0 ? JOB_FORMAT_BMP : JOB_FORMAT_PNG);
    lcdimg_close(img);
    return 0;
}
