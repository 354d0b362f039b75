// The forked trial run of a step that may end the process (fatal_guard.h).
#include "python/fatal_guard.h"

#include <errno.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Everything the child writes, until it closes its end.
std::string read_all(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return text;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
}

// Why the child did not come back, when it said nothing itself.
std::string describe_status(int status) {
    char text[64];
    if (WIFEXITED(status)) {
        snprintf(text, sizeof text, "exit status %d", WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        snprintf(text, sizeof text, "signal %d", WTERMSIG(status));
    } else {
        snprintf(text, sizeof text, "wait status %d", status);
    }
    return std::string("the library ended the process (") + text + ")";
}

}  // namespace

bool survives_in_child(const std::function<void()> &step, std::string *message) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        *message = "can't create a pipe";
        return false;
    }
    fflush(stdout);
    fflush(stderr);
    pid_t child = fork();
    if (child < 0) {
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        *message = "can't fork";
        return false;
    }
    if (child == 0) {
        close(pipe_fds[0]);
        dup2(pipe_fds[1], 2);
        step();
        fflush(stderr);
        _exit(0);
    }
    close(pipe_fds[1]);
    std::string said = read_all(pipe_fds[0]);
    close(pipe_fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        *message = said;
        return true;
    }
    while (!said.empty() && (said.back() == '\n' || said.back() == ' ')) {
        said.pop_back();
    }
    *message = said.empty() ? describe_status(status) : said;
    return false;
}
