// Shared pieces of the file tests: a scratch tree under /tmp removed with
// everything in it, forked children that report a failure text back to the
// test, and small file makers. Children never run test assertions; they
// return "" or the text of the first check that failed.
#ifndef TORVEL_TESTS_FILES_FILES_TEST_SUPPORT_H_
#define TORVEL_TESTS_FILES_FILES_TEST_SUPPORT_H_

#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

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
class ScratchTree {
 public:
    ScratchTree() {
        char name[] = "/tmp/torvel_files_test.XXXXXX";
        if (mkdtemp(name) != nullptr) {
            root_ = name;
            chmod(name, 0755);
        }
    }
    ~ScratchTree() {
        if (!root_.empty()) {
            nftw(root_.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
        }
    }
    ScratchTree(const ScratchTree &) = delete;
    ScratchTree &operator=(const ScratchTree &) = delete;

    const std::string &root() const { return root_; }
    std::string Path(const std::string &relative) const { return root_ + "/" + relative; }

 private:
    static int RemoveOne(const char *path, const struct stat *, int, struct FTW *) {
        remove(path);
        return 0;
    }
    std::string root_;
};

// Writes text to path (created with mode 0644 or truncated); true on success.
inline bool WriteFile(const std::string &path, const std::string &text, mode_t mode = 0644) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0) {
        return false;
    }
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// The whole content of path, or "<missing>".
inline std::string ReadFile(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return "<missing>";
    }
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) {
        text.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

// Owner of path itself (a link is not followed), or -1.
inline long OwnerOf(const std::string &path) {
    struct stat buf;
    return lstat(path.c_str(), &buf) == 0 ? static_cast<long>(buf.st_uid) : -1;
}

#endif  // TORVEL_TESTS_FILES_FILES_TEST_SUPPORT_H_
