// The module's fatal trap (fatal_trap.h).
#include "python/fatal_trap.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <setjmp.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "diagnostics/except.h"

namespace {

// One armed call: where to jump back to, and what ended it.
struct Trap {
    sigjmp_buf jump;
    int status;
    char line[8448];
};

Trap *armed = nullptr;
// The process the armed trap belongs to. A child forked during a trapped
// call (a command source) keeps the record but must really exit: fork's
// child handler disarms it, and a child made without fork's handlers has
// another pid.
pid_t owner = -1;

void disarm_in_child() {
    armed = nullptr;
    owner = getpid();
}

// Jumps back to the armed call of this process; returns when there is none.
void spring(int status, const char *line) {
    Trap *trap = armed;
    if (trap == nullptr || owner != getpid()) {
        return;
    }
    trap->status = status;
    snprintf(trap->line, sizeof trap->line, "%s", line != nullptr ? line : "");
    siglongjmp(trap->jump, 1);
}

void drop_trailing_blanks(std::string *text) {
    while (!text->empty() && (text->back() == '\n' || text->back() == ' ')) {
        text->pop_back();
    }
}

}  // namespace

// The library's calls of exit, bound here when the module is linked.
extern "C" [[noreturn]] void __real_exit(int status);
extern "C" [[noreturn]] void __wrap_exit(int status) {
    fflush(stderr);
    spring(status, nullptr);
    __real_exit(status);
}

void install_fatal_trap() {
    owner = getpid();
    pthread_atfork(nullptr, nullptr, disarm_in_child);
    _torvel_fatal_trap = spring;
}

bool run_trapped(void (*step)(void *), void *context, int *status, std::string *message,
                 bool keep_mask) {
    Trap trap;
    trap.status = 0;
    trap.line[0] = '\0';
    Trap *outer = armed;
    if (sigsetjmp(trap.jump, keep_mask ? 1 : 0) != 0) {
        armed = outer;
        *status = trap.status;
        *message = trap.line;
        return false;
    }
    armed = &trap;
    step(context);
    armed = outer;
    return true;
}

StderrCapture::StderrCapture() {
    fflush(stderr);
    file_ = memfd_create("torvel-stderr", MFD_CLOEXEC);
    if (file_ < 0) {
        return;  // nothing captured: the lines reach standard error as usual
    }
    saved_ = fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (dup2(file_, 2) < 0) {
        close(file_);
        file_ = -1;
        if (saved_ >= 0) {
            close(saved_);
        }
        saved_ = -1;
        return;
    }
    active_ = true;
}

StderrCapture::~StderrCapture() {
    finish();
}

std::string StderrCapture::finish() {
    if (!active_) {
        return "";
    }
    active_ = false;
    fflush(stderr);
    if (saved_ >= 0) {
        dup2(saved_, 2);
        close(saved_);
    } else {
        close(2);
    }
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        ssize_t got = pread(file_, buffer, sizeof buffer, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
        offset += got;
    }
    close(file_);
    file_ = -1;
    return text;
}

std::string fatal_message(int status, const std::string &printed, const std::string &line) {
    std::string message = printed;
    drop_trailing_blanks(&message);
    if (!line.empty()) {
        message += message.empty() ? line : "\n" + line;
    }
    if (message.empty()) {
        message =
            "the library would have ended the process (exit status " + std::to_string(status) + ")";
    }
    return message;
}
