// The render job as a front end drives it: rows or a log in, a moment shown, the display as
// text and the picture as bytes out, every problem a status and a message line.
#include "job/job.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chip/charset.hpp"
#include "job/screen.hpp"
#include "lcd/lcdimg.hpp"
#include "support/temp_dir.hpp"

using namespace vimbra;

namespace {

const std::string BLANK(16, ' ');

void collect(const char* line, void* ctx) {
    static_cast<std::vector<std::string>*>(ctx)->push_back(line);
}

struct image_t {
    lcdimg_t* img = nullptr;
    image_t() {
        std::array<char, LCDIMG_SETTING_MESSAGE_CAPACITY> message{};
        EXPECT_EQ(lcdimg_open_checked(nullptr, nullptr, &img, message.data(),
                                      static_cast<int>(message.size())),
                  LCDIMG_OPENED);
        EXPECT_EQ(lcdimg_use_charset(img, charset_find("A00"), nullptr), 0);
    }
    ~image_t() { lcdimg_close(img); }
};

char* owned_copy(const std::string& text) {
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.data(), text.size());
    return copy;
}

struct log_case_t {
    const char* what;
    const char* profile; // as the front end names it; null: none given
    std::string log;
    std::int64_t at_us;
    const char* mark; // looked up instead of at_us when not null
    job_status_t status;
    std::vector<std::string> messages;
    std::string text; // screen_text's answer when the status is JOB_DONE
};

TEST(JobTest, LogsAreReadCheckedAndShownAtTheirMoment) {
    const std::string on = "no cursor, display on, cursor off, blink off\n";
    const std::vector<log_case_t> cases{
        {"the end",
         nullptr,
         "init\nprint \"Hi\"\n",
         -1,
         nullptr,
         JOB_DONE,
         {},
         "Hi" + std::string(14, ' ') + "\n" + BLANK + "\n" + on},
        {"a time before the text",
         nullptr,
         "init\nwait 1s\nprint \"Hi\"\n",
         0,
         nullptr,
         JOB_DONE,
         {},
         BLANK + "\n" + BLANK + "\n" + on},
        {"a mark",
         nullptr,
         "init\nprint \"A\"\nwait 1s\nmark later\nprint \"B\"\nwait 1s\n",
         -1,
         "later",
         JOB_DONE,
         {},
         "AB" + std::string(14, ' ') + "\n" + BLANK + "\n" + on},
        {"a missing mark", nullptr, "init\nmark one\nmark two\n", -1, "three", JOB_NO_MARK, {}, ""},
        {"a malformed line",
         nullptr,
         "init\nfrobnicate\n",
         -1,
         nullptr,
         JOB_BAD_LOG,
         {"LOG: line 2: *"},
         ""},
        {"a dark display is a warning",
         nullptr,
         "cmd 0x38 0x01\nprint \"Hi\"\n",
         -1,
         nullptr,
         JOB_DONE,
         {"LOG: warning: the display was never switched on (display on, or cmd 0x0C)"},
         BLANK + "\n" + BLANK + "\nno cursor, display off, cursor off, blink off\n"},
        {"the cursor",
         nullptr,
         "init\ncmd 0x0F\ngoto 3 1\n",
         -1,
         nullptr,
         JOB_DONE,
         {},
         BLANK + "\n" + BLANK + "\ncursor row 2 column 4, display on, cursor on, blink on\n"},
        {"a module line gives the grid without a profile",
         nullptr,
         "module 20x4\ninit\ngoto 19 3\nprint \"Z\"\n",
         -1,
         nullptr,
         JOB_DONE,
         {},
         std::string(20, ' ') + "\n" + std::string(20, ' ') + "\n" + std::string(20, ' ') + "\n" +
             std::string(19, ' ') + "Z\n" + on},
        {"beside a profile it only warns",
         "p.prof",
         "module 20x4\ninit\nprint \"Hi\"\n",
         -1,
         nullptr,
         JOB_DONE,
         {"[Warning]: LOG: the log's module is 20x4, the profile's 16x2 (p.prof)"},
         "Hi" + std::string(14, ' ') + "\n" + BLANK + "\n" + on},
    };
    for (const log_case_t& c : cases) {
        SCOPED_TRACE(c.what);
        image_t image;
        std::vector<std::string> said;
        const job_messages_t messages{collect, &said};
        job_log_t job{};
        job_status_t status = job_log_load(&job, image.img, nullptr, c.profile, c.log.data(),
                                           c.log.size(), true, "LOG", &messages);
        std::int64_t at = c.at_us;
        if (status == JOB_DONE && c.mark != nullptr) {
            status = job_log_mark(&job, c.mark, &at);
        }
        replay_status_t cursor{};
        if (status == JOB_DONE) {
            status = job_log_show(&job, image.img, at, "LOG", &messages, &cursor);
        }
        EXPECT_EQ(status, c.status);
        ASSERT_EQ(said.size(), c.messages.size());
        for (std::size_t i = 0; i < said.size(); ++i) {
            const std::string& want = c.messages[i];
            if (!want.empty() && want.back() == '*') {
                EXPECT_EQ(said[i].substr(0, want.size() - 1), want.substr(0, want.size() - 1));
            } else {
                EXPECT_EQ(said[i], want);
            }
        }
        if (c.status == JOB_DONE) {
            std::string text;
            EXPECT_EQ(screen_text(image.img, &cursor, &text), 0);
            EXPECT_EQ(text, c.text);
        }
        if (c.status == JOB_NO_MARK) {
            EXPECT_EQ(job.log.mark_count, 2U);
        }
        job_log_free(&job);
    }
}

// One read, then moments in any order: going back replays from the start.
TEST(JobTest, MomentsGoBackAndForthOnOneRead) {
    image_t image;
    const std::string log = "init\nprint \"A\"\nwait 1s\nprint \"B\"\nwait 1s\nprint \"C\"\n";
    job_log_t job{};
    ASSERT_EQ(job_log_read(&job, image.img, owned_copy(log), log.size(), "", nullptr), JOB_DONE);
    ASSERT_EQ(job_log_check(&job, image.img, false, "", nullptr), JOB_DONE);
    for (const auto& [at, row] : std::vector<std::pair<std::int64_t, std::string>>{
             {-1, "ABC"}, {0, "A"}, {1500000, "AB"}, {1000000, "AB"}, {999999, "A"}}) {
        ASSERT_EQ(job_log_show(&job, image.img, at, "", nullptr, nullptr), JOB_DONE);
        std::string text;
        ASSERT_EQ(screen_text(image.img, nullptr, &text), 0);
        EXPECT_EQ(text.substr(0, 16), row + std::string(16 - row.size(), ' ')) << at;
    }
    job_log_free(&job);
}

// An animation's moments: where the display may change, up to the end and the hold.
TEST(JobTest, MomentsAreWhereTheDisplayMayChange) {
    image_t image;
    const std::string log = "init\nprint \"A\"\nwait 1s\nprint \"B\"\nwait 500ms\n";
    job_log_t job{};
    ASSERT_EQ(
        job_log_load(&job, image.img, nullptr, nullptr, log.data(), log.size(), false, "", nullptr),
        JOB_DONE);
    std::vector<std::int64_t> starts;
    EXPECT_EQ(job_log_moments(&job, image.img, 1500000 + 1000000, &starts), JOB_DONE);
    EXPECT_EQ(starts, (std::vector<std::int64_t>{0, 1000000}));
    // A blinking cursor changes the display every half period, far more than an animation
    // may hold over a long hold: none are listed.
    const std::string blinking = "init\ncmd 0x0F\nwait 1s\n";
    job_log_t blink{};
    ASSERT_EQ(job_log_load(&blink, image.img, nullptr, nullptr, blinking.data(), blinking.size(),
                           false, "", nullptr),
              JOB_DONE);
    EXPECT_EQ(job_log_moments(&blink, image.img, std::int64_t{1} << 40, &starts), JOB_BAD_LOG);
    EXPECT_TRUE(starts.empty());
    job_log_free(&job);
    job_log_free(&blink);
}

TEST(JobTest, RowsArePlacedOrRefused) {
    image_t image;
    std::vector<std::string> said;
    const job_messages_t messages{collect, &said};
    const std::array<const char*, 2> good{"Top \\x41", "Bottom"};
    ASSERT_EQ(job_place_rows(image.img, good.data(), 2, &messages), JOB_DONE);
    std::string text;
    ASSERT_EQ(screen_text(image.img, nullptr, &text), 0);
    EXPECT_EQ(text, "Top A" + std::string(11, ' ') + "\nBottom" + std::string(10, ' ') +
                        "\nno cursor, display on, cursor off, blink off\n");
    const std::array<const char*, 1> bad{"\\xZZ"};
    EXPECT_EQ(job_place_rows(image.img, bad.data(), 1, &messages), JOB_BAD_ROWS);
    EXPECT_EQ(said, std::vector<std::string>{"Illegal format string found."});
    EXPECT_EQ(job_exit_status(JOB_BAD_ROWS), 2);
    EXPECT_EQ(job_exit_status(JOB_NO_MEMORY), 1);
    EXPECT_EQ(job_exit_status(JOB_WRITE_FAILED), 3);
}

// The bytes encoded in memory are the bytes written to a file, in the format the name asks.
TEST(JobTest, PicturesEncodeAlikeToMemoryAndToFiles) {
    const temp_dir_t dir{"job"};
    // 2 x 1: red, blue.
    const std::array<unsigned char, 6> rgb{255, 0, 0, 0, 0, 255};
    struct case_t {
        const char* name;
        job_format_t format;
        std::string head;
    };
    for (const case_t& c :
         {case_t{"a.png", JOB_FORMAT_PNG, "\x89PNG\r\n\x1a\n"},
          case_t{"b.PnG", JOB_FORMAT_PNG, "\x89PNG\r\n\x1a\n"},
          case_t{"c.bmp", JOB_FORMAT_BMP, "BM"}, case_t{"png", JOB_FORMAT_BMP, "BM"}}) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(job_format_of_name(c.name), c.format);
        std::string bytes;
        ASSERT_EQ(job_encode(c.format, rgb.data(), 2, 1, &bytes), JOB_DONE);
        EXPECT_EQ(bytes.substr(0, c.head.size()), c.head);
        const std::string path = dir.file(c.name);
        ASSERT_EQ(job_write_picture(c.format, rgb.data(), 2, 1, path.c_str(), -1), JOB_DONE);
        EXPECT_EQ(read_file(path), bytes);
    }
    // A BMP's bottom row comes first, blue-green-red, padded to four bytes.
    std::string bmp;
    ASSERT_EQ(job_encode(JOB_FORMAT_BMP, rgb.data(), 2, 1, &bmp), JOB_DONE);
    EXPECT_EQ(bmp.substr(bmp.size() - 8), std::string("\0\0\xff\xff\0\0\0\0", 8));
    EXPECT_EQ(
        job_write_picture(JOB_FORMAT_BMP, rgb.data(), 2, 1, dir.file("missing/x.bmp").c_str(), -1),
        JOB_WRITE_FAILED);
}

} // namespace
