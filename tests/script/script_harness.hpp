// Shared helpers for the script tests: capture fd 1, feed fd 0, run a program text.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "script/core.hpp"
#include "script/kestbasic.hpp"

using namespace vimbra;

namespace script_test {

// Redirects file descriptor 1 into a temporary file until finish() or destruction.
class StdoutCapture {
  public:
    StdoutCapture() {
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = dup(1);
        if (file_ != nullptr) {
            dup2(fileno(file_), 1);
        }
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    ~StdoutCapture() { finish(); }

    // Restores fd 1 and returns everything written meanwhile.
    std::string finish() {
        if (saved_ < 0) {
            return text_;
        }
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
        if (file_ != nullptr) {
            std::rewind(file_);
            std::array<char, 4096> chunk{};
            std::size_t n = 0;
            while ((n = std::fread(chunk.data(), 1, chunk.size(), file_)) > 0) {
                text_.append(chunk.data(), n);
            }
            std::fclose(file_);
            file_ = nullptr;
        }
        return text_;
    }

  private:
    std::FILE* file_ = nullptr;
    int saved_ = -1;
    std::string text_;
};

// Makes `text` the whole of standard input while alive.
class StdinFeed {
  public:
    explicit StdinFeed(const std::string& text) {
        file_ = std::tmpfile();
        if (file_ != nullptr) {
            std::fwrite(text.data(), 1, text.size(), file_);
            std::fflush(file_);
            std::rewind(file_);
        }
        saved_ = dup(0);
        if (file_ != nullptr) {
            dup2(fileno(file_), 0);
        }
        clearerr(stdin);
    }
    StdinFeed(const StdinFeed&) = delete;
    StdinFeed& operator=(const StdinFeed&) = delete;
    ~StdinFeed() {
        std::fflush(stdin); // drop what stdin buffered from the temporary file
        dup2(saved_, 0);
        close(saved_);
        clearerr(stdin);
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }

  private:
    std::FILE* file_ = nullptr;
    int saved_ = -1;
};

struct RunResult {
    int rc;              // final result of set-up or of the last step
    std::string out;     // everything the program wrote
    std::string message; // error message with its line, empty after a normal end
};

// Sets up and steps a program text until it ends, fails or runs `max_steps` steps;
// `memo` false reads every token afresh from the text.
inline RunResult run_program(const std::string& program, lcdimg_t* img = nullptr,
                             const std::string* input = nullptr, long max_steps = 10000000,
                             bool memo = true) {
    auto kb = std::make_unique<kestbasic_t>();
    std::unique_ptr<StdinFeed> feed;
    if (input != nullptr) {
        feed = std::make_unique<StdinFeed>(*input);
    }
    RunResult result{0, "", ""};
    {
        StdoutCapture capture;
        result.rc = kestbasic_setup(kb.get(), program.c_str(), img);
        core_use_memo(kb.get(), memo);
        for (long i = 0; result.rc == RC_OK && i < max_steps; ++i) {
            result.rc = kestbasic_execute(kb.get());
        }
        result.out = capture.finish();
    }
    if (result.rc != RC_END && result.rc != RC_OK) {
        std::array<char, 8192> buffer{};
        kestbasic_get_error_message(kb.get(), result.rc, buffer.data(),
                                    static_cast<int>(buffer.size()));
        result.message = buffer.data();
    }
    return result;
}

} // namespace script_test
