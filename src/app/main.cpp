#include <cstdio>

#include "app/version.hpp"
#include "lcd/lcdimg.hpp"
#include "lcd/rowtext.hpp"

namespace {

constexpr int FIRST_ROW_ARG = 4;

enum exit_status : int {
    EXIT_DONE = 0,
    EXIT_BAD_CONFIGURATION = 1,
    EXIT_BAD_FORMAT = 2,
    EXIT_OUTPUT_FAILED = 3,
};

void print_banner(const version_info_t& info) {
    const char* rule = "=================================================";
    std::puts(rule);
    std::printf(" %s (Version %d.%d.%d)\n", info.product_name.data(), info.major, info.minor,
                info.revision);
    std::printf(" %s\n", info.notice.data());
    std::puts(rule);
    std::puts("");
    std::puts(" vimbracli [LCD Profile] [LCD Font] [BMP Output File Name] [Line 1] [Line 2] ...");
    std::puts("");
}

} // namespace

int main(int argc, char** argv) {
    version_info_t info;
    version_info(&info);
    if (argc <= FIRST_ROW_ARG) {
        print_banner(info);
        return EXIT_DONE;
    }
    lcdimg_t* img = lcdimg_open(argv[1], argv[2]);
    if (img == nullptr) {
        std::puts("Illegal configuration found.");
        return EXIT_BAD_CONFIGURATION;
    }
    int status = EXIT_DONE;
    const int placed = rowtext_place_rows(img, argv + FIRST_ROW_ARG, argc - FIRST_ROW_ARG);
    if (placed == -2) {
        std::puts("Memory Allocation Error.");
        status = EXIT_BAD_CONFIGURATION;
    } else if (placed != 0) {
        std::puts("Illegal format string found.");
        status = EXIT_BAD_FORMAT;
    } else if (lcdimg_write_file(img, argv[3]) != 0) {
        std::printf("Output file could not be written. (%s)\n", argv[3]);
        status = EXIT_OUTPUT_FAILED;
    }
    lcdimg_close(img);
    return status;
}
