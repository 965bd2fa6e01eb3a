// What a run may touch: never one file under two names, pictures on the real standard output,
// old pictures kept whole when the new one cannot be written, and memory in proportion to
// the reference picture.
#include <fcntl.h>
#include <malloc.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "support/png_build.hpp"
#include "support/sanitized.hpp"
#include "support/temp_dir.hpp"

namespace {

constexpr uid_t NOBODY = 65534;
constexpr std::size_t DEFAULT_BMP_BYTES = 150134; // the default profile's picture

struct limits_t {
    rlim_t address_space = 0; // 0: none
    rlim_t file_size = 0;     // 0: none
    uid_t uid = 0;            // run as this user when the test runs as root; 0: as is
    bool close_stderr = false;
};

struct run_result_t {
    int wait_status;
    std::string out;
    std::string err;
    long peak_kib; // the largest resident size the run reached
    bool exited(int status) const {
        return WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == status;
    }
};

// A copy of the tool that another user can start: the build folder may lie in a home folder
// that only its owner may enter. The build's own tool when no copy can be made.
const std::string& tool_for_others() {
    static const temp_dir_t dir{"vimbra_tool"};
    static const std::string path = [] {
        const std::string copy = dir.file("vimbracli");
        std::error_code error;
        std::filesystem::copy_file(VIMBRACLI_PATH, copy, error);
        return !error && chmod(dir.file("").c_str(), 0755) == 0 && chmod(copy.c_str(), 0755) == 0
                   ? copy
                   : std::string(VIMBRACLI_PATH);
    }();
    return path;
}

// Runs the tool with standard output and standard error in files of `dir`, under `limits`.
run_result_t run(const temp_dir_t& dir, const std::vector<std::string>& args,
                 const limits_t& limits = {}) {
    std::vector<std::string> copies = args;
    std::string program = limits.uid != 0 ? tool_for_others() : std::string(VIMBRACLI_PATH);
    std::vector<char*> argv{program.data()};
    for (std::string& a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const std::string out_name = dir.file(".out");
    const std::string err_name = dir.file(".err");
    const int out = open(out_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    const int err = open(err_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (limits.close_stderr) {
            close(STDERR_FILENO);
        }
        for (const int sig : {SIGPIPE, SIGXFSZ}) {
            signal(sig, SIG_DFL);
        }
        if (limits.address_space != 0) {
            const rlimit cap{limits.address_space, limits.address_space};
            setrlimit(RLIMIT_AS, &cap);
        }
        if (limits.file_size != 0) {
            const rlimit cap{limits.file_size, limits.file_size};
            setrlimit(RLIMIT_FSIZE, &cap);
        }
        if (limits.uid != 0 && geteuid() == 0 &&
            (setgid(limits.uid) != 0 || setuid(limits.uid) != 0)) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out);
    close(err);
    run_result_t result{-1, "", "", 0};
    struct rusage usage {};
    wait4(pid, &result.wait_status, 0, &usage);
    result.peak_kib = usage.ru_maxrss;
    result.out = read_file(out_name);
    result.err = read_file(err_name);
    std::filesystem::remove(out_name);
    std::filesystem::remove(err_name);
    return result;
}

TEST(FileSafetyCliTest, TwoNamesOfOneFileAreRefusedBeforeAnythingIsWritten) {
    const temp_dir_t dir;
    ASSERT_TRUE(run(dir, {"-o", dir.file("ref.bmp"), "x"}).exited(0));
    const std::string ref = dir.file("ref.bmp");
    const std::string picture = read_file(ref);
    const std::string log = dir.write("a.log", "init\nprint x\n");
    const std::string prof = dir.write("a.prof", "CHCNT_X 16\nCHCNT_Y 2\n");
    const std::string font = dir.write("a.fnt", "");
    ASSERT_EQ(symlink(ref.c_str(), dir.file("link.bmp").c_str()), 0);
    ASSERT_EQ(link(ref.c_str(), dir.file("hard.bmp").c_str()), 0);
    struct same_case_t {
        std::vector<std::string> args;
        int status;
        std::string err; // the whole of standard error, when given
    };
    const std::vector<same_case_t> cases{
        {{"--compare", ref, "--diff", ref, "x"},
         2,
         ref + ": --diff and --compare name the same file\n"},
        {{"-o", ref, "--compare", ref, "x"}, 2, ref + ": -o and --compare name the same file\n"},
        {{"-o", dir.file("link.bmp"), "--compare", ref, "y"}, 2, ""},
        {{"-o", dir.file("hard.bmp"), "--compare", ref, "y"}, 2, ""},
        {{"--replay", log, "-o", log}, 2, log + ": -o and --replay name the same file\n"},
        {{"--replay", log, "--compare", ref, "--diff", log}, 2, ""},
        {{"-p", prof, "-o", prof, "x"}, 2, prof + ": -o and --profile name the same file\n"},
        {{"-f", font, "--compare", ref, "--diff", font, "y"}, 2, ""},
        {{"-o", dir.file("new.bmp"), "--compare", ref, "--diff", dir.file("new.bmp"), "y"},
         2,
         dir.file("new.bmp") + ": -o and --diff name the same file\n"},
        {{"-o", dir.file("new.bmp"), "--compare", ref, "--diff", dir.file("./new.bmp"), "y"},
         2,
         ""},
        // The decoded log is written too.
        {{"--replay", log, "--emit-log", log, "--text"},
         2,
         log + ": --replay and --emit-log name the same file\n"},
        {{"-p", prof, "--replay", log, "--emit-log", prof, "--text"},
         2,
         prof + ": --profile and --emit-log name the same file\n"},
        {{"--replay", log, "-o", dir.file("new.bmp"), "--emit-log", dir.file("new.bmp")},
         2,
         dir.file("new.bmp") + ": -o and --emit-log name the same file\n"},
        {{"--replay", log, "--compare", ref, "--emit-log", dir.file("link.bmp")}, 2, ""},
        // Different files, and files only read twice, are fine.
        {{"-o", "-", "--compare", ref, "--diff", "/dev/stdout", "x"},
         2,
         "vimbracli: only one of the picture, the --diff picture and --text can go to standard "
         "output\nRun 'vimbracli --help' for usage.\n"},
        {{"-o", dir.file("out.bmp"), "--compare", ref, "--diff", dir.file("diff.bmp"), "x"}, 0, ""},
    };
    for (const same_case_t& c : cases) {
        const run_result_t r = run(dir, c.args);
        const std::string what = c.args[0] + " " + c.args[1] + " " + c.args[2] + " " + c.args[3];
        EXPECT_TRUE(r.exited(c.status)) << what << ": " << r.err;
        if (!c.err.empty()) {
            EXPECT_EQ(r.err, c.err) << what;
        }
        EXPECT_EQ(read_file(ref), picture) << what;
        EXPECT_EQ(read_file(log), "init\nprint x\n") << what;
        EXPECT_EQ(read_file(prof), "CHCNT_X 16\nCHCNT_Y 2\n") << what;
        EXPECT_EQ(read_file(font), "") << what;
        EXPECT_EQ(std::filesystem::exists(dir.file("new.bmp")), false) << what;
        std::filesystem::remove(dir.file("out.bmp"));
        std::filesystem::remove(dir.file("diff.bmp"));
    }
}

TEST(FileSafetyCliTest, PicturesForStandardOutputGoThere) {
    const temp_dir_t dir;
    const std::string log = dir.write("a.log", "init\nprint \"Hi\"\nwait 1s\nprint \"!\"\n");
    ASSERT_EQ(symlink("/dev/stdout", dir.file("out").c_str()), 0);
    ASSERT_TRUE(run(dir, {"-o", dir.file("ref.bmp"), "y"}).exited(0));
    struct stdout_case_t {
        std::vector<std::string> args;
        limits_t limits;
        std::string magic; // how standard output starts
        std::size_t size;  // its length, when known
    };
    const std::string bmp = "BM";
    const std::string png = "\x89PNG";
    const std::vector<stdout_case_t> cases{
        {{"-o", "/dev/stdout", "x"}, {}, bmp, DEFAULT_BMP_BYTES},
        {{"-o", "/dev/fd/1", "x"}, {}, bmp, DEFAULT_BMP_BYTES},
        {{"-o", "/proc/self/fd/1", "x"}, {}, bmp, DEFAULT_BMP_BYTES},
        {{"-o", dir.file("out"), "x"}, {}, bmp, DEFAULT_BMP_BYTES},
        {{"-o", "/dev/stdout", "--format", "png", "x"}, {}, png, 0},
        // Three panels: its size is the snapshot tests' business.
        {{"--compare", dir.file("ref.bmp"), "--diff", "/dev/stdout", "x"}, {}, bmp, 0},
        {{"--replay", log, "-o", "/dev/stdout", "--format", "gif"}, {}, "GIF89a", 0},
        {{"--replay", log, "-o", "/dev/stdout", "--format", "apng"}, {}, png, 0},
        {{"-o", "-", "x"}, {0, 0, 0, true}, bmp, DEFAULT_BMP_BYTES},
        // The positional form: the warnings about the empty names go to standard error.
        {{"", "", "/dev/stdout", "x"}, {}, bmp, DEFAULT_BMP_BYTES},
        {{"", "", dir.file("out"), "x"}, {}, bmp, DEFAULT_BMP_BYTES},
        {{"", "", "/dev/stdout", "x"}, {0, 0, 0, true}, bmp, DEFAULT_BMP_BYTES},
    };
    for (const stdout_case_t& c : cases) {
        const run_result_t r = run(dir, c.args, c.limits);
        const std::string what = c.args[0] + " " + c.args[1] + " " + c.args[2];
        EXPECT_TRUE(r.exited(c.args[0] == "--compare" ? 4 : 0)) << what << ": " << r.err;
        EXPECT_EQ(r.out.substr(0, c.magic.size()), c.magic) << what;
        if (c.size != 0) {
            EXPECT_EQ(r.out.size(), c.size) << what;
        }
        EXPECT_EQ(r.err.find(c.magic), std::string::npos) << what << ": no picture in messages";
    }
}

// Inputs that ask for far more memory than their size: a 1 x 1 reference holding 300 text
// chunks that would inflate to 7.9 MB each (found to be of another size, its chunks never
// inflated), 8 MB of `init` lines on a two-controller module, one 8 MB `print` line, an
// animation whose frames at --scale 16 would pass its limit, a 60 MB trace.
TEST(FileSafetyCliTest, MemoryStaysNearTheInputsSize) {
    if (SANITIZED) {
        GTEST_SKIP() << "the sanitizer runtime's own memory would hide the difference";
    }
    const temp_dir_t dir;
    png_build::bytes_t texts;
    const png_build::bytes_t one = png_build::ztxt(7900000);
    for (int i = 0; i < 300; ++i) {
        texts += one;
    }
    const std::string ref =
        dir.write("ref.png", png_build::png(1, 8, 2, {png_build::b({1, 2, 3})}, texts));
    std::string inits;
    for (int i = 0; i < 1600000; ++i) {
        inits += "init\n";
    }
    const std::string init_log = dir.write("init.log", inits);
    const std::string print_log =
        dir.write("print.log", "init\nprint \"" + std::string(8 << 20, 'a') + "\"\n");
    const std::string prof = dir.write("m.prof", "CHCNT_X 40\nCHCNT_Y 4\n");
    // 3,000 one-letter changes: at --scale 16 their frames pass 1 GiB, refused early.
    std::string changes = "init\n";
    for (int i = 0; i < 3000; ++i) {
        changes += "goto " + std::to_string(i % 16) + " 0\nprint \"" +
                   std::string(1, static_cast<char>('A' + i % 26)) + "\"\nwait 10ms\n";
    }
    const std::string changes_log = dir.write("changes.log", changes);
    // 60 MB of a trace whose E toggles, written in pieces: a trace is streamed, never held.
    const std::string trace = dir.file("e.vcd");
    {
        std::ofstream out(trace, std::ios::binary);
        out << "$timescale 1 ns $end $var wire 1 ! e $end $var wire 1 \" rs $end\n"
               "$var wire 1 # d4 $end $var wire 1 $ d5 $end $var wire 1 % d6 $end\n"
               "$var wire 1 & d7 $end $enddefinitions $end\n#0 0\" 0# 0$ 0% 0&\n";
        std::string piece;
        for (long t = 1; t <= 4000000; ++t) {
            piece += '#';
            piece += std::to_string(t * 1000);
            piece += t % 2 != 0 ? "\n1!\n" : "\n0!\n";
            if (piece.size() > 65536) {
                out << piece;
                piece.clear();
            }
        }
        out << piece;
    }
    struct memory_case_t {
        std::vector<std::string> args;
        int status;
        long most_kib;
    };
    const std::vector<memory_case_t> cases{
        {{"--compare", ref, "x"}, 4, 40 * 1024},
        {{"-p", prof, "--replay", init_log, "-o", dir.file("a.bmp")}, 0, 40 * 1024},
        {{"-p", prof, "--replay", init_log, "-o", dir.file("a.gif")}, 0, 40 * 1024},
        {{"-p", prof, "--replay", print_log, "-o", dir.file("b.bmp")}, 0, 48 * 1024},
        {{"--replay", changes_log, "--scale", "16", "-o", dir.file("c.gif")}, 3, 100 * 1024},
        {{"--replay", trace, "-o", dir.file("d.bmp")}, 0, 40 * 1024},
    };
    // A forked child starts as large as this process, and that counts in its peak: give back
    // what the inputs took, and skip when earlier tests in this process left it too large for
    // the tool's own peak to be told (run on its own, as ctest runs it, it is small).
    std::string().swap(inits);
    std::string().swap(changes);
    malloc_trim(0);
    long resident_pages = 0;
    std::ifstream("/proc/self/statm") >> resident_pages >> resident_pages;
    const long self_kib = resident_pages * (sysconf(_SC_PAGESIZE) / 1024);
    if (self_kib > 16 * 1024) {
        GTEST_SKIP() << "this test process holds " << self_kib
                     << " KiB, which a child's peak would include: run the test on its own";
    }
    for (const memory_case_t& c : cases) {
        const run_result_t r = run(dir, c.args);
        std::string what;
        for (const std::string& a : c.args) {
            what += " " + a;
        }
        EXPECT_TRUE(r.exited(c.status)) << what << ": " << r.err;
        EXPECT_LT(r.peak_kib, c.most_kib) << what;
    }
}

const std::string PROFILE_SOURCE = VIMBRA_SOURCE_DIR "/examples/profiles/default.prof";
const std::string FONT_SOURCE = VIMBRA_SOURCE_DIR "/examples/fonts/symbols.fnt";

// A folder that refuses a new file and a file size limit below the picture: the old picture
// stays whole, no temporary file stays, and the run says why with status 3 (no signal).
TEST(FileSafetyCliTest, OldPictureSurvivesWhatStopsTheNewOne) {
    struct keep_case_t {
        const char* what;
        mode_t folder_mode;
        mode_t file_mode;
        rlim_t file_size;
        const char* reason;
    };
    const std::vector<keep_case_t> cases{
        {"size limit, writable folder", 0755, 0666, 200, "File too large"},
        {"size limit, read-only folder", 0555, 0666, 200, "File too large"},
        {"write-protected file", 0755, 0444, 0, "Permission denied"},
        {"write-protected file, read-only folder", 0555, 0444, 0, "Permission denied"},
    };
    for (const keep_case_t& c : cases) {
        for (const char* name : {"p.bmp", "p.png"}) {
            const temp_dir_t dir;
            chmod(dir.file("").c_str(), 0755);
            std::filesystem::create_directory(dir.file("d"));
            const std::string target = dir.write(std::string("d/") + name, "old picture");
            // Copies that the other user can read, wherever the sources lie.
            const std::string profile = dir.write("default.prof", read_file(PROFILE_SOURCE));
            const std::string font = dir.write("symbols.fnt", read_file(FONT_SOURCE));
            chmod(target.c_str(), c.file_mode);
            chmod(dir.file("d").c_str(), c.folder_mode);
            for (const bool positional : {true, false}) {
                const std::vector<std::string> args =
                    positional ? std::vector<std::string>{profile, font, target, "x"}
                               : std::vector<std::string>{"-o", target, "x"};
                const run_result_t r = run(dir, args, {0, c.file_size, NOBODY});
                EXPECT_TRUE(r.exited(3))
                    << c.what << " " << name << " " << positional << ": " << r.wait_status;
                EXPECT_NE((r.out + r.err)
                              .find(positional ? "Output file could not be written" : c.reason),
                          std::string::npos)
                    << c.what << " " << name << ": " << r.out << r.err;
                EXPECT_EQ(read_file(target), "old picture") << c.what << " " << name;
                const std::filesystem::directory_iterator d(dir.file("d"));
                EXPECT_EQ(std::distance(d, std::filesystem::directory_iterator{}), 1)
                    << c.what << " " << name;
            }
            chmod(dir.file("d").c_str(), 0755);
        }
    }
}

// A full file system (no inode left for a temporary file, then no room for the picture):
// the old picture stays as it was.
TEST(FileSafetyCliTest, FullFileSystemKeepsTheOldPicture) {
    const temp_dir_t dir;
    const std::string mount_point = dir.file("small");
    std::filesystem::create_directory(mount_point);
    if (geteuid() != 0 ||
        mount("none", mount_point.c_str(), "tmpfs", 0, "size=300k,nr_inodes=4") != 0) {
        GTEST_SKIP() << "needs root and leave to mount a tmpfs";
    }
    const std::string target = mount_point + "/p.bmp";
    {
        std::ofstream(target, std::ios::binary) << std::string(1000, 'o');
        // Fills the inodes, then the space.
        for (int i = 0; i < 8; ++i) {
            std::ofstream(mount_point + "/fill" + std::to_string(i)) << "x";
        }
        std::ofstream filler(mount_point + "/fill0", std::ios::binary);
        const std::string block(4096, 'f');
        for (int i = 0; i < 100 && filler.good(); ++i) {
            filler << block << std::flush;
        }
    }
    for (const auto& args : {std::vector<std::string>{"", "", target, "x"},
                             std::vector<std::string>{"-o", target, "x"}}) {
        const run_result_t r = run(dir, args);
        EXPECT_TRUE(r.exited(3)) << args[0] << ": " << r.wait_status << r.out << r.err;
        EXPECT_EQ(read_file(target), std::string(1000, 'o')) << args[0];
    }
    umount(mount_point.c_str());
}
} // namespace

namespace {

// One decoded log and the picture beside it: a command log, replayed with --emit-log.
const std::string EMIT_LOG = "cmd 0x38\ncmd 0x0C\ndata 0x48\n";

// How a file looks: "char 1,3", "fifo", "link TARGET", "file CONTENTS" (its first 16 bytes,
// or "BM" for a picture) or "missing".
std::string looks(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        return "missing";
    }
    if (S_ISCHR(st.st_mode)) {
        return "char " + std::to_string(major(st.st_rdev)) + "," + std::to_string(minor(st.st_rdev));
    }
    if (S_ISFIFO(st.st_mode)) {
        return "fifo";
    }
    if (S_ISLNK(st.st_mode)) {
        std::array<char, 4096> target{};
        const ssize_t n = readlink(path.c_str(), target.data(), target.size() - 1);
        return "link " + std::string(target.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    const std::string text = read_file(path);
    return "file " + (text.rfind("BM", 0) == 0 ? std::string("BM") : text.substr(0, 16));
}

// Every way the decoded log meets a regular file: it keeps the mode of the file it replaces,
// is refused by a read-only one, never touches a file named like an old ".part" name, and
// leaves no temporary file.
TEST(FileSafetyCliTest, DecodedLogGoesThroughTheOutputStep) {
    struct log_case_t {
        const char* what;
        mode_t mode;       // of an existing target; 0: none
        int status;
        const char* err;   // a part of standard error
        mode_t mode_after; // 0: the target must keep its old text
    };
    const std::vector<log_case_t> cases{
        {"new file", 0, 0, "", 0644},
        {"private file", 0600, 0, "", 0600},
        {"read-only file", 0444, 3, "board.log: cannot be written: Permission denied", 0},
    };
    // Run as root, the tool runs as nobody, whose files these are, in a folder all may write.
    const uid_t user = geteuid() == 0 ? NOBODY : geteuid();
    for (const log_case_t& c : cases) {
        const temp_dir_t dir;
        chmod(dir.file("").c_str(), 0777);
        const std::string log = dir.write("in.log", EMIT_LOG);
        chmod(log.c_str(), 0644);
        const std::string target = dir.file("board.log");
        if (c.mode != 0) {
            dir.write("board.log", "old log");
            chmod(target.c_str(), c.mode);
            (void)!chown(target.c_str(), user, user);
        }
        dir.write("board.log.part", "mine");
        (void)!chown(dir.file("board.log.part").c_str(), user, user);
        const mode_t old_mask = umask(022);
        const run_result_t r = run(dir, {"--replay", log, "--emit-log", target, "--text"},
                                   {0, 0, geteuid() == 0 ? NOBODY : 0, false});
        umask(old_mask);
        EXPECT_TRUE(r.exited(c.status)) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.what << ": " << r.err;
        EXPECT_EQ(read_file(dir.file("board.log.part")), "mine") << c.what;
        struct stat st {};
        ASSERT_EQ(stat(target.c_str(), &st), 0) << c.what;
        if (c.mode_after != 0) {
            EXPECT_EQ(st.st_mode & 07777, c.mode_after) << c.what;
            EXPECT_EQ(read_file(target).rfind("# the bus of " + log, 0), 0u) << c.what;
        } else {
            EXPECT_EQ(read_file(target), "old log") << c.what;
        }
        for (const std::string& name : dir.entries()) {
            EXPECT_EQ(name.find(".vimbracli-"), std::string::npos) << c.what << ": " << name;
        }
    }
}

// A trace streamed on standard input holds the run in the middle of its decoded log: a signal
// then ends the run and takes the temporary file with it.
TEST(FileSafetyCliTest, SignalDuringTheDecodedLogRemovesItsTemporaryFile) {
    const std::string head = "$timescale 1ns $end\n$var wire 1 ! rs $end\n$var wire 1 \" e $end\n"
                             "$var wire 1 # d4 $end\n$var wire 1 $ d5 $end\n"
                             "$var wire 1 % d6 $end\n$var wire 1 & d7 $end\n$enddefinitions $end\n"
                             "#0\n0! 0\" 0# 1$ 0% 0&\n#50000000\n1\"\n#50001000\n0\"\n";
    // The tool reads a trace in pieces of 256 KiB: stamps fill the first ones, the last
    // never comes.
    std::string stamps;
    for (long long t = 50002000; stamps.size() < (512u << 10); t += 1000) {
        stamps += '#';
        stamps += std::to_string(t);
        stamps += '\n';
    }
    const temp_dir_t dir;
    const std::string target = dir.write("board.log", "old log");
    std::array<int, 2> input{};
    ASSERT_EQ(pipe(input.data()), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(input[0], STDIN_FILENO);
        close(input[0]);
        close(input[1]);
        signal(SIGTERM, SIG_DFL);
        execl(VIMBRACLI_PATH, VIMBRACLI_PATH, "--replay", "-", "--emit-log", target.c_str(),
              "--text", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input[0]);
    const std::string trace = head + stamps;
    for (std::size_t done = 0; done < trace.size();) {
        const ssize_t n = write(input[1], trace.data() + done, trace.size() - done);
        ASSERT_GT(n, 0);
        done += static_cast<std::size_t>(n);
    }
    bool seen = false;
    for (int tries = 0; tries < 10000 && !seen; ++tries) { // up to 10 s
        for (const std::string& name : dir.entries()) {
            seen = seen || name.starts_with(".board.log.vimbracli-");
        }
        usleep(1000);
    }
    EXPECT_TRUE(seen) << "a temporary file named after the log, while the trace is read";
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    close(input[1]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"board.log"});
    EXPECT_EQ(read_file(target), "old log");
}

// Devices, a FIFO and links planted in shared folders, in a private mount namespace: /dev is
// a fresh tmpfs with its own null, full and stdout, and the test folder another, so that a
// fault could replace nothing outside them. Each case runs in the namespace's process, which
// reports what it found; it needs root.
TEST(FileSafetyCliTest, DevicesFifosAndPlantedLinksStayAsTheyAre) {
    struct node_case_t {
        const char* what;
        std::vector<std::string> args; // "@" is the private folder
        int status;
        const char* err;   // a part of standard error
        const char* node;  // looked at afterwards
        std::string looks; // how it must look then
    };
    const std::vector<node_case_t> cases{
        {"log to the null device", {"--emit-log", "/dev/null"}, 0, "", "/dev/null", "char 1,3"},
        {"log to the full device", {"--emit-log", "/dev/full"}, 3,
         "/dev/full: could not be written: No space left on device", "/dev/full", "char 1,7"},
        {"log to /dev/stdout", {"--emit-log", "/dev/stdout"}, 0, "", "/dev/stdout",
         "link /proc/self/fd/1"},
        {"log to a FIFO", {"--emit-log", "@/pipe.log"}, 0, "", "@/pipe.log", "fifo"},
        // A link that another user planted in root's shared folder is not followed.
        {"picture through a planted link", {"-o", "@/shared/out.bmp", "x"}, 3,
         "out.bmp: could not be written: Permission denied", "@/victim", "file victim"},
        {"log through a planted link", {"--emit-log", "@/shared/out.bmp"}, 3,
         "out.bmp: cannot be written: Permission denied", "@/victim", "file victim"},
        {"diff through a planted link",
         {"--compare", "@/ref.bmp", "--diff", "@/shared/out.bmp", "y"}, 3,
         "out.bmp: could not be written: Permission denied", "@/victim", "file victim"},
        {"update through a planted link", {"--compare", "@/shared/new.bmp", "--update", "y"}, 3,
         "new.bmp: could not be written: Permission denied", "@/made", "missing"},
        // The folder's owner's link, and the user's own, are followed.
        {"the folder owner's link", {"-o", "@/theirs/out.bmp", "x"}, 0, "", "@/their-victim",
         "file BM"},
        {"the user's own link", {"-o", "@/shared/mine.bmp", "x"}, 0, "", "@/my-victim",
         "file BM"},
    };
    const temp_dir_t dir;
    std::array<int, 2> report{};
    ASSERT_EQ(pipe(report.data()), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        const auto say = [&report](const std::string& line) {
            const std::string text = line + "\n";
            (void)!write(report[1], text.data(), text.size());
        };
        if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("none", "/dev", "tmpfs", 0, "mode=0755") != 0 ||
            mount("none", dir.path().c_str(), "tmpfs", 0, "mode=0700") != 0) {
            say(std::string("SKIP needs root and leave to make a private mount namespace (") +
                strerror(errno) + ")");
            _exit(0);
        }
        const std::string at = dir.path();
        (void)!mknod("/dev/null", S_IFCHR | 0666, makedev(1, 3));
        (void)!mknod("/dev/full", S_IFCHR | 0666, makedev(1, 7));
        (void)!symlink("/proc/self/fd/1", "/dev/stdout");
        (void)!symlink("/proc/self/fd/2", "/dev/stderr");
        for (const auto& [name, mode, owner] :
             {std::tuple{"/shared", 01777, 0}, std::tuple{"/theirs", 01777, 65534}}) {
            mkdir((at + name).c_str(), 0755);
            chmod((at + name).c_str(), static_cast<mode_t>(mode));
            (void)!chown((at + name).c_str(), static_cast<uid_t>(owner), static_cast<gid_t>(owner));
        }
        for (const auto& [link, target, owner] :
             {std::tuple{"/shared/out.bmp", "/victim", 65534},
              std::tuple{"/theirs/out.bmp", "/their-victim", 65534},
              std::tuple{"/shared/mine.bmp", "/my-victim", 0},
              std::tuple{"/shared/new.bmp", "/made", 65534}}) {
            if (std::string(target) != "/made") {
                dir.write(std::string(target).substr(1), "victim");
            }
            (void)!symlink((at + target).c_str(), (at + link).c_str());
            (void)!lchown((at + link).c_str(), static_cast<uid_t>(owner),
                          static_cast<gid_t>(owner));
        }
        mkfifo((at + "/pipe.log").c_str(), 0600);
        const std::string log = dir.write("in.log", EMIT_LOG);
        run(dir, {"-o", at + "/ref.bmp", "x"});
        for (const node_case_t& c : cases) {
            std::vector<std::string> args;
            if (c.args[0] == "--emit-log") {
                args = {"--replay", log, "-o", at + "/pic.bmp"};
            }
            for (const std::string& arg : c.args) {
                args.push_back(arg[0] == '@' ? at + arg.substr(1) : arg);
            }
            // A reader holds the FIFO open, as a pipeline would.
            const int reader = open((at + "/pipe.log").c_str(), O_RDONLY | O_NONBLOCK);
            const run_result_t r = run(dir, args);
            std::string fifo(4096, '\0');
            const ssize_t n = read(reader, fifo.data(), fifo.size());
            close(reader);
            const std::string node = c.node[0] == '@' ? at + (c.node + 1) : c.node;
            std::string problem;
            if (!r.exited(c.status)) {
                problem += " status " + std::to_string(WEXITSTATUS(r.wait_status)) + " (" + r.err + ")";
            }
            if (r.err.find(c.err) == std::string::npos) {
                problem += " messages '" + r.err + "'";
            }
            if (looks(node) != c.looks) {
                problem += " " + node + " looks like '" + looks(node) + "'";
            }
            if (c.node == std::string("/dev/stdout") && r.out.rfind("# the bus of", 0) != 0) {
                problem += " no log on standard output";
            }
            if (c.node == std::string("@/pipe.log") &&
                std::string(fifo.data(), n > 0 ? static_cast<std::size_t>(n) : 0)
                        .rfind("# the bus of", 0) != 0) {
                problem += " no log through the FIFO";
            }
            for (const std::string& name : dir.entries()) {
                if (name.find(".vimbracli-") != std::string::npos) {
                    problem += " left " + name;
                }
            }
            if (!problem.empty()) {
                say(std::string(c.what) + ":" + problem);
            }
        }
        _exit(0);
    }
    close(report[1]);
    std::string lines;
    std::array<char, 4096> chunk{};
    for (ssize_t n; (n = read(report[0], chunk.data(), chunk.size())) > 0;) {
        lines.append(chunk.data(), static_cast<std::size_t>(n));
    }
    close(report[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    if (lines.rfind("SKIP ", 0) == 0) {
        GTEST_SKIP() << lines.substr(5);
    }
    EXPECT_EQ(lines, "") << "the cases that went wrong, one a line";
}

} // namespace
