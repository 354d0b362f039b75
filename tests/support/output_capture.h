// OutputCapture: sends the process's standard output or standard error
// (descriptor 1 or 2) to a temporary file for the life of the object, so a
// test can check what was printed, with stdio flushed on the way in and out.
// Changes a process-wide descriptor: one capture per stream at a time, and
// nothing else may write to the stream meanwhile. Its descriptor calls are
// ones the brokering layer does not wrap, so it works inside that layer's
// tests too.
#ifndef TORVEL_TESTS_SUPPORT_OUTPUT_CAPTURE_H_
#define TORVEL_TESTS_SUPPORT_OUTPUT_CAPTURE_H_

#include <fcntl.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

namespace torvel_test {

class OutputCapture {
 public:
    // REQUIRES: fd is STDOUT_FILENO or STDERR_FILENO.
    explicit OutputCapture(int fd) : fd_(fd), file_(tmpfile()) {
        fflush(nullptr);
        if (file_ != nullptr) {
            saved_ = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
            if (saved_ < 0 || dup3(fileno(file_), fd_, 0) < 0) {
                Restore();
            }
        }
    }
    ~OutputCapture() {
        Restore();
        if (file_ != nullptr) {
            fclose(file_);
        }
    }
    OutputCapture(const OutputCapture &) = delete;
    OutputCapture &operator=(const OutputCapture &) = delete;

    // Puts the stream back and returns everything written to it meanwhile
    // ("" after the first call).
    std::string Finish() {
        if (!Restore()) {
            return "";
        }
        std::string text;
        rewind(file_);
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, file_)) > 0) {
            text.append(chunk, n);
        }
        return text;
    }

 private:
    // Flushes and gives the stream its own descriptor back; false when it
    // was not captured (any more).
    bool Restore() {
        if (saved_ < 0) {
            return false;
        }
        fflush(nullptr);
        dup3(saved_, fd_, 0);
        syscall(SYS_close, saved_);
        saved_ = -1;
        return true;
    }

    int fd_;
    FILE *file_;
    int saved_ = -1;
};

}  // namespace torvel_test

#endif  // TORVEL_TESTS_SUPPORT_OUTPUT_CAPTURE_H_
