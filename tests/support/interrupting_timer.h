// For tests of reads that signals interrupt: a SIGALRM every 2 ms whose
// handler is installed without SA_RESTART (so a blocked read fails with
// EINTR), and a pipe fed slowly by a child, so that reads do block. Test
// code only; the timer and handler are the process's own while one lives.
#ifndef TORVEL_TESTS_SUPPORT_INTERRUPTING_TIMER_H_
#define TORVEL_TESTS_SUPPORT_INTERRUPTING_TIMER_H_

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace torvel_test {

class InterruptingTimer {
 public:
    InterruptingTimer() {
        count() = 0;
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = [](int) { count() = count() + 1; };
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART
        sigaction(SIGALRM, &action, &previous_);
        struct itimerval every {
            {0, 2000}, { 0, 2000 }
        };
        setitimer(ITIMER_REAL, &every, nullptr);
    }
    ~InterruptingTimer() {
        struct itimerval off {};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &previous_, nullptr);
    }
    InterruptingTimer(const InterruptingTimer &) = delete;
    InterruptingTimer &operator=(const InterruptingTimer &) = delete;

    // Signals delivered since the timer started.
    int Interrupts() const { return count(); }

 private:
    static volatile sig_atomic_t &count() {
        static volatile sig_atomic_t n = 0;
        return n;
    }
    struct sigaction previous_;
};

// A stream reading what a child writes: each piece after a pause of 20 ms.
// Close() closes it and reaps the child.
class SlowPipe {
 public:
    explicit SlowPipe(const std::vector<std::string> &pieces) {
        int ends[2];
        if (pipe(ends) != 0) {
            return;
        }
        child_ = fork();
        if (child_ == 0) {
            close(ends[0]);
            for (const std::string &piece : pieces) {
                struct timespec pause = {0, 20 * 1000 * 1000};
                nanosleep(&pause, nullptr);
                if (write(ends[1], piece.data(), piece.size()) !=
                    static_cast<ssize_t>(piece.size())) {
                    _exit(1);
                }
            }
            _exit(0);
        }
        close(ends[1]);
        stream_ = fdopen(ends[0], "r");
    }
    ~SlowPipe() { Close(); }
    SlowPipe(const SlowPipe &) = delete;
    SlowPipe &operator=(const SlowPipe &) = delete;

    FILE *stream() const { return stream_; }
    void Close() {
        if (stream_ != nullptr) {
            fclose(stream_);
            stream_ = nullptr;
        }
        if (child_ > 0) {
            while (waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
            }
            child_ = -1;
        }
    }

 private:
    FILE *stream_ = nullptr;
    pid_t child_ = -1;
};

}  // namespace torvel_test

#endif  // TORVEL_TESTS_SUPPORT_INTERRUPTING_TIMER_H_
