// Waiting for another thread or process to reach a state by looking at the
// state itself, never by guessing how long it takes: a polled condition, a
// thread asleep in a given system call, a thread woken since a count was
// taken, a lock request queued behind another process's lock, a process's
// exit. Reads /proc; test code only.
#ifndef TORVEL_TESTS_SUPPORT_WAIT_FOR_H_
#define TORVEL_TESTS_SUPPORT_WAIT_FOR_H_

#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <initializer_list>
#include <string>

namespace torvel_test {

// Checks done() until it holds or timeout_ms pass, with a millisecond
// between checks; true when it held.
template <class Done>
bool WaitUntil(Done done, int timeout_ms = 10000) {
    struct timespec pause = {0, 1000 * 1000};
    for (int waited = 0; waited <= timeout_ms; ++waited) {
        if (done()) {
            return true;
        }
        nanosleep(&pause, nullptr);
    }
    return done();
}

// The calling thread's id, for the checks below.
inline pid_t ThreadId() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

namespace wait_for_internal {

// The first line of a /proc file, "" when it cannot be read. stdio, so the
// read never passes through the brokering layer's wrapped calls.
inline std::string FirstLine(const std::string &path) {
    FILE *file = fopen(path.c_str(), "r");
    if (file == nullptr) {
        return "";
    }
    char line[512];
    std::string text = fgets(line, sizeof line, file) != nullptr ? line : "";
    fclose(file);
    return text;
}

}  // namespace wait_for_internal

// True when thread tid (any thread of any process) is asleep inside one of
// the system calls.
inline bool SleepsIn(pid_t tid, std::initializer_list<long> calls) {
    std::string proc = "/proc/" + std::to_string(tid);
    std::string stat = wait_for_internal::FirstLine(proc + "/stat");
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos || paren + 2 >= stat.size() || stat[paren + 2] != 'S') {
        return false;
    }
    std::string call = wait_for_internal::FirstLine(proc + "/syscall");
    char *end = nullptr;
    long number = strtol(call.c_str(), &end, 10);
    if (end == call.c_str()) {
        return false;  // "running"
    }
    for (long wanted : calls) {
        if (number == wanted) {
            return true;
        }
    }
    return false;
}

// How many times thread tid has gone to sleep so far (its voluntary context
// switches); -1 when it is gone. A thread asleep again with a higher count
// was woken in between.
inline long TimesAsleep(pid_t tid) {
    FILE *file = fopen(("/proc/" + std::to_string(tid) + "/status").c_str(), "r");
    if (file == nullptr) {
        return -1;
    }
    long count = -1;
    char line[256];
    while (fgets(line, sizeof line, file) != nullptr) {
        if (strncmp(line, "voluntary_ctxt_switches:", 24) == 0) {
            count = strtol(line + 24, nullptr, 10);
        }
    }
    fclose(file);
    return count;
}

// True when process pid has a lock request on the file at path queued
// behind someone else's lock (a "->" line of /proc/locks).
inline bool WaitsForLock(pid_t pid, const std::string &path) {
    struct stat file;
    if (stat(path.c_str(), &file) != 0) {
        return false;
    }
    FILE *locks = fopen("/proc/locks", "r");
    if (locks == nullptr) {
        return false;
    }
    // "3: -> POSIX  ADVISORY  WRITE 1234 fe:00:56789 0 EOF"
    std::string owner = " " + std::to_string(pid) + " ";
    std::string inode = ":" + std::to_string(file.st_ino) + " ";
    bool found = false;
    char line[256];
    while (!found && fgets(line, sizeof line, locks) != nullptr) {
        std::string text = line;
        found = text.find(" -> ") != std::string::npos && text.find(owner) != std::string::npos &&
                text.find(inode) != std::string::npos;
    }
    fclose(locks);
    return found;
}

// Waits up to timeout_ms for process pid (not necessarily a child) to end;
// true when it did. Its exit is seen through a process descriptor.
inline bool WaitForExit(pid_t pid, int timeout_ms) {
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
        return true;  // already gone
    }
    struct pollfd exited = {fd, POLLIN, 0};
    bool ended = poll(&exited, 1, timeout_ms) == 1;
    close(fd);
    return ended;
}

}  // namespace torvel_test

#endif  // TORVEL_TESTS_SUPPORT_WAIT_FOR_H_
