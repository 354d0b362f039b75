// Shared helpers of the brokering-layer tests. The layer's table, flag and
// switches are process-wide and initialisation cannot be undone, so most
// tests run their body in a forked child: the body collects failures into a
// ChildReport, and the parent turns what the child sent back into test
// failures. Children end with _exit and never return into the test runner.
#ifndef TORVEL_TESTS_NBX_NBX_TEST_SUPPORT_H_
#define TORVEL_TESTS_NBX_NBX_TEST_SUPPORT_H_

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "nbx/generic_log.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"
#include "tests/support/layer_log_capture.h"
#include "tests/support/read_to_end.h"
#include "tests/support/temp_dir.h"

namespace nbx_test {

// Failures noted inside a child, one line each.
class ChildReport {
 public:
    void Fail(int line, const std::string &what) {
        text_ += "line " + std::to_string(line) + ": " + what + "\n";
    }
    const std::string &text() const { return text_; }

 private:
    std::string text_;
};

#define CHILD_EXPECT(report, condition)                        \
    do {                                                       \
        if (!(condition)) (report).Fail(__LINE__, #condition); \
    } while (0)

#define CHILD_EXPECT_EQ(report, expected, actual)                                            \
    do {                                                                                     \
        auto expected_value = (expected);                                                    \
        auto actual_value = (actual);                                                        \
        if (!(expected_value == actual_value)) {                                             \
            std::ostringstream message;                                                      \
            message << #actual << " is " << actual_value << ", expected " << expected_value; \
            (report).Fail(__LINE__, message.str());                                          \
        }                                                                                    \
    } while (0)

using torvel_test::ReadToEnd;

// Runs body in a fresh child process and returns its failures; a child that
// crashes or exits on its own is reported as a failure too. The pipe is
// worked with the system's calls so the body's brokering switches never
// touch the harness.
inline std::string RunInChild(const std::function<void(ChildReport &)> &body) {
    int channel[2];
    if (pipe(channel) != 0) return std::string("pipe: ") + strerror(errno);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return std::string("fork: ") + strerror(errno);
    if (pid == 0) {
        __real_close(channel[0]);
        ChildReport report;
        body(report);
        std::string text = report.text();
        const char *p = text.data();
        size_t left = text.size();
        while (left > 0) {
            ssize_t n = __real_write(channel[1], p, left);
            if (n <= 0) break;
            p += n;
            left -= static_cast<size_t>(n);
        }
        __real_write(channel[1], "\x01", 1);  // marks a child that finished
        _exit(0);
    }
    __real_close(channel[1]);
    std::string text = ReadToEnd(channel[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (text.empty() || text.back() != '\x01') {
        std::string how = WIFSIGNALED(status)
                              ? "killed by signal " + std::to_string(WTERMSIG(status))
                              : "exited with status " + std::to_string(WEXITSTATUS(status));
        return text + "child did not finish: " + how + "\n";
    }
    text.pop_back();
    return text;
}

inline bool FileExists(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

inline int CountOf(const std::string &text, const std::string &piece) {
    int count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

inline CBAddr Addr(const char *ip, int port) {
    CBAddr address;
    inet_pton(AF_INET, ip, &address.ip);
    address.port = htons(static_cast<in_port_t>(port));
    return address;
}

// Enters a new record for fd (which needs not be open) into the table.
// REQUIRES: the layer is initialised.
inline SockInfo *NewRecord(int fd, int type, int status, char mode = PASSIVE) {
    SockInfo *info = static_cast<SockInfo *>(calloc(1, sizeof(SockInfo)));
    info->owner = fd;
    info->manager = -1;
    info->refs = 1;
    info->status = status;
    info->mode = mode;
    _CB_fdInfo[fd].type = type;
    _CB_fdInfo[fd].info = info;
    _CB_raisemaxfd(fd);
    return info;
}

// Appends a queued connection to a record.
inline void AddConn(SockInfo *info, int fd, const CBAddr &peer) {
    CBConn *conn = static_cast<CBConn *>(calloc(1, sizeof(CBConn)));
    conn->fd = fd;
    conn->ip = peer.ip;
    conn->port = peer.port;
    if (info->conn_q_tail == nullptr) {
        info->conn_q_head = conn;
    } else {
        info->conn_q_tail->next = conn;
    }
    info->conn_q_tail = conn;
}

// The layer's log lines, caught for the rest of the child:
// StartLogCapture() forgets earlier lines and catches every later one;
// WasLogged(piece) tells whether some line's text holds piece.
inline void StartLogCapture() {
    torvel_test::LayerLogCapture::Start();
}
inline bool WasLogged(const std::string &piece) {
    return torvel_test::LayerLogCapture::Logged(piece);
}

// An open AF_INET socket of the given type, made with the system's call so
// the table does not see it.
inline int RawSocket(int type) {
    return __real_socket(AF_INET, type, 0);
}

}  // namespace nbx_test

#endif  // TORVEL_TESTS_NBX_NBX_TEST_SUPPORT_H_
