// Shared pieces of the file tests: a scratch tree removed with everything
// in it, forked children that report a failure text back to the
// test, and small file makers. Children never run test assertions; they
// return "" or the text of the first check that failed.
#ifndef TORVEL_TESTS_FILES_FILES_TEST_SUPPORT_H_
#define TORVEL_TESTS_FILES_FILES_TEST_SUPPORT_H_

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "tests/support/temp_dir.h"

// In a child body: return the failing condition with its line.
#define CHILD_CHECK(cond)                                                        \
    do {                                                                         \
        if (!(cond)) {                                                           \
            return std::string("line ") + std::to_string(__LINE__) + ": " #cond; \
        }                                                                        \
    } while (0)

// Runs body in a forked child. "" when the body returned "" and the child
// exited 0; else the body's text or how the child ended.
inline std::string InChild(const std::function<std::string()> &body) {
    int fds[2];
    if (pipe(fds) != 0) {
        return "pipe failed";
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        return "fork failed";
    }
    if (pid == 0) {
        close(fds[0]);
        std::string message = body();
        if (!message.empty() && write(fds[1], message.data(), message.size()) < 0) {
            _exit(3);
        }
        _exit(message.empty() ? 0 : 1);
    }
    close(fds[1]);
    std::string message;
    char chunk[256];
    ssize_t n;
    while ((n = read(fds[0], chunk, sizeof chunk)) > 0) {
        message.append(chunk, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!message.empty()) {
        return message;
    }
    if (!WIFEXITED(status)) {
        return "child ended by signal " + std::to_string(WTERMSIG(status));
    }
    if (WEXITSTATUS(status) != 0) {
        return "child exited " + std::to_string(WEXITSTATUS(status));
    }
    return "";
}

// A fresh directory (mode 0755, so other identities can enter it) removed
// with its whole content, links not followed, when the object goes.
class ScratchTree : public torvel_test::TempDir {
 public:
    // Always under /tmp: children running as other identities must reach it.
    ScratchTree() : TempDir("torvel_files_test", "/tmp") {}
};

using torvel_test::WriteFile;

// The whole content of path, or "<missing>".
inline std::string ReadFile(const std::string &path) {
    return torvel_test::ReadFile(path, "<missing>");
}

// Owner of path itself (a link is not followed), or -1.
inline long OwnerOf(const std::string &path) {
    struct stat buf;
    return lstat(path.c_str(), &buf) == 0 ? static_cast<long>(buf.st_uid) : -1;
}

#endif  // TORVEL_TESTS_FILES_FILES_TEST_SUPPORT_H_
