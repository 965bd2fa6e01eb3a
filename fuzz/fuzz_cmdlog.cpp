// A command log of any bytes, read for two module shapes, replayed to its end and shown, then
// written as an animation (GIF on one shape, APNG on the other) into a sink that keeps nothing.
#include <cstddef>
#include <cstdint>

#include <array>
#include <string>

#include "fuzz_util.hpp"
#include "lcd/animate.hpp"
#include "lcd/cmdlog.hpp"
#include "lcd/lcdimg.hpp"
#include "lcd/replay.hpp"

namespace {

// Small pictures: one chip with row starts of its own, and a two-chip module.
lcdimg_t* open_image(const char* tag, const char* profile) {
    // The profile is read once, here, so its scratch file may go right after.
    const fuzz::scratch_file file(tag);
    if (!file.write(std::string(profile))) return nullptr;
    return lcdimg_open(file.path.c_str(), "");
}

int discard(const void*, std::uint32_t, void*) {
    return 1;
}

void replay_on(lcdimg_t* img, animate_format_t format, const std::uint8_t* data, std::size_t size) {
    if (img == nullptr) return;
    cmdlog_module_t module{};
    cmdlog_module_of(img, &module);
    cmdlog_t log{};
    std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
    if (cmdlog_read(reinterpret_cast<const char*>(data), size, &module, &log, message.data(),
                    static_cast<int>(message.size())) != 0)
        return;
    int columns = 0;
    int rows = 0;
    (void)cmdlog_scan_module(reinterpret_cast<const char*>(data), size, &columns, &rows);
    if (log.mark_count > 0) {
        (void)cmdlog_find_mark(&log, log.marks[log.mark_count - 1].name.data());
    }
    replay_t replay{};
    replay_start(&replay, &module, img, &log);
    // A few moments on the way, then the end.
    std::int64_t t = 0;
    for (int i = 0; i < 4 && t <= log.end_us; ++i) {
        if (replay_advance(&replay, t, message.data(), static_cast<int>(message.size())) != 0)
            break;
        replay_show(&replay, img, t);
        t = replay_next_change(&replay, t);
    }
    if (replay_advance(&replay, log.end_us, message.data(), static_cast<int>(message.size())) ==
        0) {
        replay_show(&replay, img, log.end_us);
        replay_status_t status{};
        replay_status(&replay, &status);
        lcdimg_paint(img);
        const animate_options_t options{format, 500000, 0, nullptr, nullptr, 1};
        std::array<char, ANIMATE_MESSAGE_CAPACITY> why{};
        animate_write(img, &module, &log, &options, discard, nullptr, why.data(),
                      static_cast<int>(why.size()));
    }
    cmdlog_free(&log);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_stdout();
    static lcdimg_t* narrow =
        open_image("cmdlog-a", "CHCNT_X 16\nCHCNT_Y 4\nROW_ADDRESSES 0x00 0x40 0x10\nPIXSIZ_X 1\n"
                               "PIXSIZ_Y 1\nPIXGAP_X 0\nPIXGAP_Y 0\nCHOFS_X 0\nCHOFS_Y 0\n");
    static lcdimg_t* wide =
        open_image("cmdlog-b", "CHCNT_X 40\nCHCNT_Y 4\nPIXSIZ_X 1\nPIXSIZ_Y 1\n"
                               "PIXGAP_X 0\nPIXGAP_Y 0\nCHOFS_X 0\nCHOFS_Y 0\n");
    replay_on(narrow, ANIMATE_GIF, data, size);
    replay_on(wide, ANIMATE_APNG, data, size);
    return 0;
}
