#include "bmp/outfile.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;

// Writes a few bytes and then fails, like a disk that fills up.
int failing_producer(int fd, void*) {
    const char part[] = "BMpartial";
    const ssize_t written = write(fd, part, sizeof part - 1);
    (void)written;
    return -1;
}

int hello_producer(int fd, void*) {
    return write(fd, "hello", 5) == 5 ? 0 : -1;
}

TEST(OutfileTest, ReplacesOnlyWithCompleteFiles) {
    temp_dir_t dir;
    const std::string target = dir.write("pic.bmp", "old picture");
    EXPECT_EQ(outfile_write(target.c_str(), failing_producer, nullptr), -1);
    EXPECT_EQ(read_file(target), "old picture");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"pic.bmp"})) << "temporary file removed";

    const mode_t old_mask = umask(027);
    EXPECT_EQ(outfile_write(target.c_str(), hello_producer, nullptr), 0);
    umask(old_mask);
    EXPECT_EQ(read_file(target), "hello");
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640U);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"pic.bmp"}));

    EXPECT_EQ(outfile_write(dir.file("new.bmp").c_str(), failing_producer, nullptr), -1);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"pic.bmp"}));
    EXPECT_EQ(outfile_write(dir.file("no/such/dir.bmp").c_str(), hello_producer, nullptr), -1);
    EXPECT_EQ(outfile_write("", hello_producer, nullptr), -1);
    EXPECT_EQ(outfile_write(dir.file("").c_str(), hello_producer, nullptr), -1) << "a folder";

    const std::string name(250, 'n'); // "<name>.XXXXXX" exceeds the name limit
    EXPECT_EQ(outfile_write(dir.file(name).c_str(), hello_producer, nullptr), 0);
    EXPECT_EQ(read_file(dir.file(name)), "hello");
}

TEST(OutfileTest, SymlinksAndDevicesAreWrittenThrough) {
    temp_dir_t dir;
    const std::string real = dir.write("real.bmp", "old");
    const std::string link = dir.file("link.bmp");
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    EXPECT_EQ(outfile_write(link.c_str(), hello_producer, nullptr), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read_file(real), "hello");
}

} // namespace
