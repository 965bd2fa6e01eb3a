#include "bmp/outfile.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

using namespace vimbra;

namespace {

namespace fs = std::filesystem;

// Writes a few bytes and then fails as a full disk does.
int failing_producer(int fd, void*) {
    const ssize_t written = write(fd, "BMpartial", 9);
    (void)written;
    errno = ENOSPC;
    return -1;
}

int starved_producer(int, void*) {
    return OUTFILE_NO_MEMORY;
}

int hello_producer(int fd, void*) {
    return write(fd, "hello", 5) == 5 ? 0 : -1;
}

struct target_case_t {
    const char* what;
    std::function<std::string(const temp_dir_t&)> setup; // returns the name to write
    outfile_producer_t producer;
    int status;
    int error;            // errno after a failure
    std::string real;     // the file that holds the picture afterwards, if any
    std::string contents; // of `real`
    mode_t mode;          // of `real`
};

std::string old_file(const temp_dir_t& dir, const std::string& name, mode_t mode) {
    const std::string path = dir.write(name, "old");
    chmod(path.c_str(), mode);
    return path;
}

std::string linked(const temp_dir_t& dir, const std::string& link, const std::string& to) {
    EXPECT_EQ(symlink(to.c_str(), dir.file(link).c_str()), 0) << link;
    return dir.file(link);
}

TEST(OutfileTest, TargetsKeepTheirPictureUnlessReplacedWhole) {
    const mode_t old_mask = umask(027);
    const std::vector<target_case_t> cases{
        {"failed write", [](auto& d) { return old_file(d, "p.bmp", 0600); }, failing_producer, -1,
         ENOSPC, "p.bmp", "old", 0600},
        {"no memory", [](auto& d) { return old_file(d, "p.bmp", 0600); }, starved_producer,
         OUTFILE_NO_MEMORY, ENOMEM, "p.bmp", "old", 0600},
        {"mode kept", [](auto& d) { return old_file(d, "p.bmp", 0604); }, hello_producer, 0, 0,
         "p.bmp", "hello", 0604},
        {"new file", [](auto& d) { return d.file("n.bmp"); }, hello_producer, 0, 0, "n.bmp",
         "hello", 0640},
        {"link, failed write",
         [](auto& d) { return old_file(d, "r.bmp", 0600), linked(d, "l.bmp", "r.bmp"); },
         failing_producer, -1, ENOSPC, "r.bmp", "old", 0600},
        {"chain into a folder",
         [](auto& d) {
             fs::create_directory(d.file("sub"));
             old_file(d, "sub/r.bmp", 0600);
             linked(d, "sub/l2", "r.bmp");
             return linked(d, "l.bmp", "sub/l2");
         },
         hello_producer, 0, 0, "sub/r.bmp", "hello", 0600},
        {"dangling link", [](auto& d) { return linked(d, "l.bmp", "made.bmp"); }, hello_producer, 0,
         0, "made.bmp", "hello", 0640},
        {"link loop", [](auto& d) { return linked(d, "l.bmp", "l.bmp"); }, hello_producer, -1,
         ELOOP, "", "", 0},
        {"folder", [](auto& d) { return d.file(""); }, hello_producer, -1, EISDIR, "", "", 0},
        {"missing folder", [](auto& d) { return d.file("no/x.bmp"); }, hello_producer, -1, ENOENT,
         "", "", 0},
        {"empty name", [](auto&) { return std::string(); }, hello_producer, -1, ENOENT, "", "", 0},
        {"name at the length limit", [](auto& d) { return d.file(std::string(250, 'n')); },
         hello_producer, 0, 0, std::string(250, 'n'), "hello", 0640},
    };
    for (const target_case_t& c : cases) {
        const temp_dir_t dir;
        const std::string target = c.setup(dir);
        std::vector<std::string> links;
        for (const std::string& name : dir.entries()) {
            if (fs::is_symlink(dir.file(name))) {
                links.push_back(name);
            }
        }
        errno = 0;
        EXPECT_EQ(outfile_write(target.c_str(), c.producer, nullptr), c.status) << c.what;
        if (c.status != 0) {
            EXPECT_EQ(errno, c.error) << c.what;
        }
        if (!c.real.empty()) {
            EXPECT_EQ(read_file(dir.file(c.real)), c.contents) << c.what;
            struct stat st {};
            EXPECT_EQ(stat(dir.file(c.real).c_str(), &st), 0) << c.what;
            EXPECT_EQ(st.st_mode & 07777, c.mode) << c.what;
        }
        for (const std::string& name : links) {
            EXPECT_TRUE(fs::is_symlink(dir.file(name))) << c.what << ": " << name;
        }
        for (const std::string& name : dir.entries()) {
            EXPECT_EQ(name.find(".vimbracli-"), std::string::npos) << c.what << ": " << name;
        }
    }
    umask(old_mask);
}

TEST(OutfileTest, ReplacementKeepsTheOwnerAndHardLinksKeepTheOldPicture) {
    const temp_dir_t dir;
    const std::string target = old_file(dir, "p.bmp", 0644);
    const bool can_give = geteuid() == 0 && chown(target.c_str(), 65534, 65534) == 0;
    ASSERT_EQ(link(target.c_str(), dir.file("kept.bmp").c_str()), 0);
    EXPECT_EQ(outfile_write(target.c_str(), hello_producer, nullptr), 0);
    EXPECT_EQ(read_file(target), "hello");
    EXPECT_EQ(read_file(dir.file("kept.bmp")), "old");
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, can_give ? 65534U : geteuid());
    EXPECT_EQ(st.st_gid, can_give ? 65534U : getegid());
}

// Descriptor names write at the descriptor's offset and in its append mode, never truncating.
TEST(OutfileTest, DescriptorNamesWriteThroughTheOpenDescriptor) {
    const temp_dir_t dir;
    struct descriptor_case_t {
        const char* prefix; // the name is prefix + fd
        int flags;
        const char* expected; // "head" written before, "tail" after
    };
    const std::vector<descriptor_case_t> cases{
        {"/dev/fd/", O_APPEND, "logheadhellotail"},
        {"/proc/self/fd/", 0, "headhellotail"},
        {"/dev/./fd/", 0, "headhellotail"},
        {"/proc/self/../self/fd/", O_APPEND, "logheadhellotail"},
    };
    for (const descriptor_case_t& c : cases) {
        const std::string file = dir.write("log", "log");
        const int fd = open(file.c_str(), O_WRONLY | c.flags);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "head", 4), 4);
        const std::string name = c.prefix + std::to_string(fd);
        EXPECT_EQ(outfile_write(name.c_str(), hello_producer, nullptr), 0) << name;
        ASSERT_EQ(write(fd, "tail", 4), 4);
        close(fd);
        EXPECT_EQ(read_file(file), c.expected) << name;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"log"}) << name;
    }
    const int unused = dup(1);
    close(unused);
    const std::string closed = "/dev/fd/" + std::to_string(unused);
    EXPECT_EQ(outfile_write(closed.c_str(), hello_producer, nullptr), -1);
    EXPECT_EQ(errno, EBADF);
}

} // namespace
