// Runs the built vimbracli as a user would: no shell, standard input from /dev/null (or,
// with run_tool_io, from a given text, and standard error kept apart).
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>


struct tool_result_t {
    int status; // exit status, -1 when the tool did not exit normally
    std::string out;
};

// Runs the tool with standard output captured. Standard input is `in_fd` (-1: /dev/null),
// standard error `err_fd` (-1: this process's); a nonzero memory_limit caps the tool's
// address space (bytes).
inline tool_result_t spawn_tool(const std::vector<std::string>& args, int in_fd, int err_fd,
                                rlim_t memory_limit) {
    std::string program = VIMBRACLI_PATH;
    std::vector<std::string> copies = args;
    std::vector<char*> argv{program.data()};
    for (std::string& a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::array<int, 2> out_pipe{};
    if (pipe(out_pipe.data()) != 0) {
        return {-1, ""};
    }
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], STDOUT_FILENO);
        close(out_pipe[0]);
        close(out_pipe[1]);
        dup2(in_fd >= 0 ? in_fd : open("/dev/null", O_RDONLY), STDIN_FILENO);
        if (err_fd >= 0) {
            dup2(err_fd, STDERR_FILENO);
        }
        if (memory_limit != 0) {
            const rlimit limit{memory_limit, memory_limit};
            setrlimit(RLIMIT_AS, &limit);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    tool_result_t result{-1, ""};
    std::array<char, 65536> chunk{};
    for (ssize_t n; (n = read(out_pipe[0], chunk.data(), chunk.size())) > 0;) {
        result.out.append(chunk.data(), static_cast<std::size_t>(n));
    }
    close(out_pipe[0]);
    int wstatus = 0;
    if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) {
        result.status = WEXITSTATUS(wstatus);
    }
    return result;
}

// A nonzero memory_limit caps the tool's address space (bytes).
inline tool_result_t run_tool(const std::vector<std::string>& args, rlim_t memory_limit = 0) {
    return spawn_tool(args, -1, -1, memory_limit);
}

struct tool_io_result_t {
    int status; // exit status, -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

// run_tool with `input` as standard input and standard error captured on its own. Both go
// through temporary files, so that no pipe can fill up while the other is read.
inline tool_io_result_t run_tool_io(const std::vector<std::string>& args,
                                    const std::string& input = "") {
    std::array<char, 32> in_name{"/tmp/vimbra_inXXXXXX"};
    std::array<char, 32> err_name{"/tmp/vimbra_errXXXXXX"};
    const int in_fd = mkstemp(in_name.data());
    const int err_fd = mkstemp(err_name.data());
    if (in_fd < 0 || err_fd < 0 ||
        write(in_fd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
        for (int fd : {in_fd, err_fd}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        unlink(in_name.data());
        unlink(err_name.data());
        return {-1, "", ""};
    }
    lseek(in_fd, 0, SEEK_SET);
    const tool_result_t run = spawn_tool(args, in_fd, err_fd, 0);
    tool_io_result_t result{run.status, run.out, ""};
    std::ifstream err_file(err_name.data(), std::ios::binary);
    result.err.assign(std::istreambuf_iterator<char>(err_file), std::istreambuf_iterator<char>());
    close(in_fd);
    close(err_fd);
    unlink(in_name.data());
    unlink(err_name.data());
    return result;
}
