// The output step as a user meets it: standard output appended to, closed pipes, signals,
// folders that take no temporary file, and memory that runs out while encoding.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/sanitized.hpp"
#include "support/temp_dir.hpp"


namespace {

constexpr std::size_t DEFAULT_BMP_BYTES = 150134; // the default profile's picture
constexpr uid_t NOBODY = 65534;

// Starts the tool (`program`, by default the built one) with standard output on `out_fd`, as
// `uid` when running as root (so that folder permissions hold), with the default signal
// actions a shell would give it.
pid_t spawn_tool(const std::vector<std::string>& args, int out_fd, uid_t uid = 0,
                 std::string program = VIMBRACLI_PATH) {
    std::vector<std::string> copies = args;
    std::vector<char*> argv{program.data()};
    for (std::string& a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_fd, STDOUT_FILENO);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
            signal(sig, SIG_DFL);
        }
        if (uid != 0 && geteuid() == 0 && (setgid(uid) != 0 || setuid(uid) != 0)) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Standard output for runs whose printing does not matter; opened once.
int null_fd() {
    static const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    return fd;
}

int wait_for(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid ? status : -1;
}

// How a run ended, for failure messages.
std::string describe(int status) {
    if (status == -1) {
        return "not started";
    }
    if (WIFSIGNALED(status)) {
        return std::string("ended by ") + strsignal(WTERMSIG(status));
    }
    return "exit status " + std::to_string(WEXITSTATUS(status));
}

std::string octal(mode_t mode) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "0%o", static_cast<unsigned>(mode & 07777));
    return text.data();
}

// "path 0755" for each path, for failure messages.
std::string modes_of(const std::vector<std::string>& paths) {
    std::string out;
    for (const std::string& path : paths) {
        struct stat st {};
        out += " " + path + (stat(path.c_str(), &st) == 0 ? " " + octal(st.st_mode) : " missing");
    }
    return out;
}

// A copy of the tool that `nobody` can start: the build folder may lie in a home folder that
// only its owner may enter. `why` says why there is none.
struct reachable_tool_t {
    temp_dir_t dir{"vimbra_tool"};
    std::string path;
    std::string why;

    reachable_tool_t() {
        const std::string copy = dir.file("vimbracli");
        std::error_code error;
        std::filesystem::copy_file(VIMBRACLI_PATH, copy, error);
        if (error || chmod(dir.file("").c_str(), 0755) != 0 || chmod(copy.c_str(), 0755) != 0) {
            why = "cannot copy the tool to " + copy + ": " + error.message();
            return;
        }
        const int status = wait_for(spawn_tool({"--version"}, null_fd(), NOBODY, copy));
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            why = "nobody cannot start " + copy + " (" + describe(status) + "; modes" +
                  modes_of({std::filesystem::path(copy).parent_path().parent_path().string(),
                            dir.file(""), copy}) +
                  ")";
            return;
        }
        path = copy;
    }
};

TEST(OutfileCliTest, StandardOutputIsWrittenAtItsOffset) {
    struct stdout_case_t {
        const char* name;
        int flags;
    };
    const std::vector<stdout_case_t> cases{
        {"/dev/stdout", O_APPEND}, {"/dev/fd/1", O_APPEND}, {"/proc/self/fd/1", 0}};
    for (const stdout_case_t& c : cases) {
        const temp_dir_t dir;
        const std::string log = dir.write("app.log", "earlier line\n");
        const int fd = open(log.c_str(), O_WRONLY | c.flags);
        ASSERT_GE(fd, 0);
        if ((c.flags & O_APPEND) == 0) { // as `{ echo ...; vimbracli ...; } > log` leaves it
            lseek(fd, 0, SEEK_END);
        }
        const int status = wait_for(spawn_tool({"", "", c.name, "x"}, fd));
        close(fd);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.name;
        const std::string text = read_file(log);
        const std::size_t picture = text.find("BM");
        ASSERT_NE(picture, std::string::npos) << c.name;
        EXPECT_EQ(text.substr(0, 13), "earlier line\n") << c.name;
        EXPECT_EQ(text.size() - picture, DEFAULT_BMP_BYTES) << c.name << ": the picture comes last";
    }
}

TEST(OutfileCliTest, ClosedPipeIsAFailedWrite) {
    std::array<int, 2> ends{};
    ASSERT_EQ(pipe(ends.data()), 0);
    close(ends[0]);
    const int status = wait_for(spawn_tool({"", "", "/dev/stdout", "x"}, ends[1]));
    close(ends[1]);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

// Large enough that encoding takes a while: 300 x 150 cells, about 145 MB of pixels.
const std::string BIG_PROFILE = "CHCNT_X 300\nCHCNT_Y 150\n";

TEST(OutfileCliTest, SignalsRemoveTheTemporaryFile) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM}) {
        temp_dir_t dir;
        const std::string prof = dir.write("big.prof", BIG_PROFILE);
        const std::string target = dir.write("big.png", "old picture");
        const std::vector<std::string> before = dir.entries();
        const pid_t pid = spawn_tool({prof, "", target, "x"}, null_fd());
        bool seen = false;
        for (int tries = 0; tries < 10000 && !seen; ++tries) { // up to 10 s
            for (const std::string& name : dir.entries()) {
                seen = seen || name.starts_with(".big.png.vimbracli-");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(seen) << "a temporary file named after the target";
        kill(pid, sig);
        const int status = wait_for(pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << strsignal(sig);
        EXPECT_EQ(dir.entries(), before) << strsignal(sig);
        EXPECT_EQ(read_file(target), "old picture") << strsignal(sig);
    }
}

TEST(OutfileCliTest, FolderWithoutRoomForATemporaryFile) {
    struct folder_case_t {
        mode_t folder_mode;
        mode_t file_mode;
        int status;
        bool replaced;
    };
    // The sticky folder lets the temporary file be made but, run as root, not renamed over
    // root's file.
    const std::vector<folder_case_t> cases{
        {0555, 0666, 0, true}, {0555, 0444, 3, false}, {01777, 0666, 0, true}};
    const reachable_tool_t tool;
    if (tool.path.empty()) {
        GTEST_SKIP() << tool.why;
    }
    for (const folder_case_t& c : cases) {
        temp_dir_t dir;
        chmod(dir.file("").c_str(), 0755);
        std::filesystem::create_directory(dir.file("ro"));
        const std::string target = dir.write("ro/p.bmp", "old picture");
        chmod(target.c_str(), c.file_mode);
        chmod(dir.file("ro").c_str(), c.folder_mode);
        const int status =
            wait_for(spawn_tool({"", "", target, "x"}, null_fd(), NOBODY, tool.path));
        const std::string label =
            "folder " + octal(c.folder_mode) + ", file " + octal(c.file_mode) + ":";
        chmod(dir.file("ro").c_str(), 0755);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status)
            << label << " " << describe(status) << ", expected exit status " << c.status;
        EXPECT_EQ(read_file(target).size(), c.replaced ? DEFAULT_BMP_BYTES : 11U) << label;
        const std::filesystem::directory_iterator ro(dir.file("ro"));
        EXPECT_EQ(std::distance(ro, std::filesystem::directory_iterator{}), 1) << label;
    }
}

// Just below the smallest address space in which the picture is written, the pixels are
// there and the encoder is what starves.
TEST(OutfileCliTest, EncoderOutOfMemoryIsStatus1) {
    if (SANITIZED) {
        GTEST_SKIP() << "the sanitizer runtime needs more address space than the caps";
    }
    const temp_dir_t dir;
    const std::string prof = dir.write("p.prof", "CHCNT_X 100\nCHCNT_Y 40\n");
    const std::string font = dir.write("f.fnt", "");
    for (const char* name : {"p.png", "p.bmp"}) {
        const std::string target = dir.file(name);
        constexpr rlim_t STEP = 16 * 1024;
        rlim_t low = 8 * 1024 * 1024; // too small for the pixels
        rlim_t high = 1024 * 1024 * 1024;
        while (high - low > STEP) {
            const rlim_t middle = (low + high) / 2 / STEP * STEP;
            const tool_result_t r = run_tool({prof, font, target, "x"}, middle);
            ASSERT_TRUE(r.status == 0 || r.status == 1) << middle << ": " << r.out;
            (r.status == 0 ? high : low) = middle;
            std::filesystem::remove(target);
        }
        const tool_result_t r = run_tool({prof, font, target, "x"}, high - STEP);
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.out, "Memory Allocation Error.\n") << name;
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"f.fnt", "p.prof"})) << name;
    }
}

} // namespace
