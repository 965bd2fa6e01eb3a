#include "script/hal.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "lcd/lcdimg.hpp"

using namespace vimbra;

namespace {

struct ChildRun {
    std::string out;     // what the child wrote to standard output
    std::string results; // what the body reported
    int status = -1;
};

std::string drain(int fd) {
    std::string s;
    char buf[512];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        s.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return s;
}

// Runs `body` in a child whose standard input is `input` and whose standard output
// is captured, so the test process's own streams are never touched.
ChildRun run_child(const std::string& input, const std::function<std::string(hal_t*)>& body) {
    int in[2];
    int out[2];
    int res[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(res) != 0) return {};
    // The input is small enough for the pipe's buffer: written before the child starts, so a
    // child that reads none of it cannot make the write raise SIGPIPE.
    const ssize_t sent = write(in[1], input.data(), input.size());
    close(in[1]);
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        for (int fd : {in[0], out[0], out[1], res[0]})
            close(fd);
        hal_t hal{};
        hal_init(&hal, nullptr);
        const std::string r = body(&hal);
        std::fflush(stdout);
        const ssize_t written = write(res[1], r.data(), r.size());
        _exit(written == static_cast<ssize_t>(r.size()) ? 0 : 1);
    }
    close(in[0]);
    close(out[1]);
    close(res[1]);
    ChildRun run;
    run.out = drain(out[0]);
    run.results = drain(res[0]);
    waitpid(pid, &run.status, 0);
    EXPECT_EQ(sent, static_cast<ssize_t>(input.size()));
    return run;
}

TEST(HalTest, SimulatedPortsPrintTheirLine) {
    struct Case {
        std::int32_t port;
        std::int32_t value; // read: expected; write: given
        bool is_read;
        const char* line;
    };
    const Case cases[] = {
        {3, 330, true, "HAL:INPUT(PORT=3, DATA=0x0000014A)\n"},
        {-1, -110, true, "HAL:INPUT(PORT=-1, DATA=0xFFFFFF92)\n"},
        {2147483647, -110, true, "HAL:INPUT(PORT=2147483647, DATA=0xFFFFFF92)\n"},
        {39045157, -26, true, "HAL:INPUT(PORT=39045157, DATA=0xFFFFFFE6)\n"},
        {7, 255, false, "HAL:OUTPUT(PORT=7, DATA=0x000000FF)\n"},
        {-3, -1, false, "HAL:OUTPUT(PORT=-3, DATA=0xFFFFFFFF)\n"},
        {-2147483647 - 1, 0, false, "HAL:OUTPUT(PORT=-2147483648, DATA=0x00000000)\n"},
    };
    for (const auto& c : cases) {
        const ChildRun run = run_child("", [&](hal_t* hal) {
            std::int32_t v = 12345;
            const int rc = c.is_read ? hal_read(hal, c.port, &v) : hal_write(hal, c.port, c.value);
            return std::to_string(rc) + " " + std::to_string(c.is_read ? v : c.value);
        });
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, c.line);
        EXPECT_EQ(run.results, "0 " + std::to_string(c.value)) << c.line;
    }
}

TEST(HalTest, PortZeroIsTheConsole) {
    const ChildRun run = run_child("Z\xE9", [](hal_t* hal) {
        std::string r;
        for (int i = 0; i < 4; ++i) {
            std::int32_t v = 0;
            hal_read(hal, 0, &v);
            r += std::to_string(v) + ",";
        }
        for (std::int32_t v : {65, 321, -191, 10})
            hal_write(hal, 0, v);
        return r;
    });
    EXPECT_EQ(run.results, "90,233,-1,-1,");
    EXPECT_EQ(run.out, "AAA\n"); // -191 & 0xFF = 65
}

TEST(HalTest, PutcAndPutsWriteBytes) {
    const ChildRun run = run_child("", [](hal_t* hal) {
        std::string r = std::to_string(hal_putc(hal, 'x')) + ",";
        r += std::to_string(hal_putc(hal, -1)) + ",";
        r += std::to_string(hal_putc(hal, 0x141)) + ",";
        r += std::to_string(hal_puts(hal, "a\xE9 \r\n"));
        return r;
    });
    EXPECT_EQ(run.results, "120,255,65,0");
    EXPECT_EQ(run.out, "x\xFF"
                       "Aa\xE9 \r\n");
}

TEST(HalTest, GetsReadsLinesInPieces) {
    struct Case {
        const char* name;
        std::string input;
        int capacity;
        int calls;
        const char* pieces; // each call's text followed by '|'
    };
    const std::vector<Case> cases = {
        {"long line", "abcdefghij\nk\n", 4, 5, "abcd|efgh|ij|k||"},
        {"exact fit leaves line feed", "abcd\nx\n", 4, 3, "abcd||x|"},
        {"CR LF gives empty line", "12\r\n34\n", 80, 3, "12||34|"},
        {"empty line", "\n", 80, 2, "||"},
        {"end of input ends line", "xyz", 80, 3, "xyz|||"},
        {"NUL ends line", std::string("ab\0cd\n", 6), 80, 2, "ab|cd|"},
        {"capacity 0 reads nothing", "q\n", 0, 1, "|"},
        {"high bytes stored", "\xC1\xFF\n", 80, 1, "\xC1\xFF|"},
    };
    for (const auto& c : cases) {
        const ChildRun run = run_child(c.input, [&](hal_t* hal) {
            std::string r;
            for (int i = 0; i < c.calls; ++i) {
                std::vector<char> buf(static_cast<std::size_t>(c.capacity) + 2, '#');
                buf.back() = 0;
                char* p = hal_gets(hal, buf.data(), c.capacity);
                r += p == buf.data() ? std::string(buf.data()) + "|" : "wrong buffer|";
            }
            return r;
        });
        EXPECT_EQ(run.results, c.pieces) << c.name;
        EXPECT_EQ(run.out, "") << c.name;
    }
}

std::string rgb(const unsigned char* p) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u ", p[0], p[1], p[2]);
    return buf;
}

TEST(HalTest, DrawingReachesPicture) {
    const ChildRun run = run_child("", [](hal_t* hal) {
        lcdimg_t* img = lcdimg_open("/nonexistent/profile", "/nonexistent/font");
        if (img == nullptr) return std::string("no image");
        hal_init(hal, img);
        hal_color(hal, 300, -1, 0x1234); // low bytes 44, 255, 52
        const std::string set = rgb(img->draw_color.data());
        hal_plot(hal, 2, 1);
        auto px = [img](int x, int y) {
            const std::size_t at =
                static_cast<std::size_t>(y) * static_cast<std::size_t>(img->canvas_width) +
                static_cast<std::size_t>(x);
            return rgb(img->pixels + at * 3);
        };
        std::string r = set;
        r += px(2, 1);
        r += px(1, 2) == px(2, 1) ? "swapped " : "ok ";
        hal_color(hal, 1, 2, 3);
        hal_line(hal, 10, 2, 12, 2);
        hal_box(hal, 30, 3, 33, 6);
        hal_fillbox(hal, 20, 3, 22, 4);
        hal_circle(hal, 50, 10, 3);
        for (const auto& [x, y] : {std::pair{10, 2}, {30, 3}, {20, 3}, {53, 10}})
            r += px(x, y);
        lcdimg_close(img);
        return r;
    });
    EXPECT_EQ(run.results, "44.255.52 44.255.52 ok 1.2.3 1.2.3 1.2.3 1.2.3 ");
}

} // namespace
