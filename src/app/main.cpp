#include <array>
#include <cstdio>

#include "app/version.hpp"
#include "lcd/charset.hpp"
#include "lcd/lcdimg.hpp"
#include "lcd/util.hpp"

namespace {

constexpr int FIRST_ROW_ARG = 4;
constexpr int ROW_CAPACITY = 8192; // decoded codes of one row, terminator included

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

// Decodes every row argument into the text grid; false at the first malformed one, whose
// problem is printed when there is a line to say. With a character set rows are UTF-8 text;
// without one every byte is a code.
bool place_rows(lcdimg_t* img, int argc, char** argv) {
    std::array<unsigned char, ROW_CAPACITY> codes{};
    std::array<char, CHARSET_MESSAGE_CAPACITY> message{};
    for (int k = 0; FIRST_ROW_ARG + k < argc; ++k) {
        const char* row = argv[FIRST_ROW_ARG + k];
        int count = 0;
        const int status = img->charset == nullptr
                               ? util_format(row, codes.data(), ROW_CAPACITY, &count)
                               : charset_decode(img->charset, row, k, codes.data(), ROW_CAPACITY,
                                                &count, message.data(), CHARSET_MESSAGE_CAPACITY);
        if (status != 0) {
            if (message[0] != '\0') {
                std::puts(message.data());
            }
            return false;
        }
        for (int c = 0; c < count; ++c) {
            lcdimg_set_text(img, c, k, codes[static_cast<std::size_t>(c)]);
        }
    }
    return true;
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
    if (!place_rows(img, argc, argv)) {
        std::puts("Illegal format string found.");
        status = EXIT_BAD_FORMAT;
    } else if (lcdimg_write_file(img, argv[3]) != 0) {
        std::printf("Output file could not be written. (%s)\n", argv[3]);
        status = EXIT_OUTPUT_FAILED;
    }
    lcdimg_close(img);
    return status;
}
