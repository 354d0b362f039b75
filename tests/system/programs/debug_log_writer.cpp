// Helper for the debug-log tests from outside: a program that sets its
// debug log up as a daemon's set-up step would and writes lines to it.
//
//   debug_log_writer LOG TAG LINES LENGTH [LOCK]
//
// writes LINES lines to the main log LOG, each "<TAG> <n> " followed by
// the letter TAG[0] repeated up to LENGTH bytes of message, newline
// included (the header comes before). LOCK, when given, is the log's lock
// file. With SHORT_WRITES=N in the environment, every write of more than
// N bytes to the log writes only N (as a disk that takes a line in
// pieces would), and says on standard error how many writes it cut
// short. The service account comes from TORVEL_IDS. Exit status 0
// once every line was logged, 2 on bad arguments.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "diagnostics/debug_log.h"

const char *mySubSystem = "TOOL";

namespace {

long short_writes = 0;
long writes_cut = 0;
const char *log_name = nullptr;

// Whether fd is the log file (not the standard streams or the lock).
bool is_log(int fd) {
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n < 0) {
        return false;
    }
    target[n] = '\0';
    return strcmp(target, log_name) == 0;
}

}  // namespace

// Every write of the program, the library's included, comes here.
extern "C" ssize_t write(int fd, const void *buffer, size_t size) {
    if (short_writes > 0 && size > static_cast<size_t>(short_writes) && is_log(fd)) {
        size = static_cast<size_t>(short_writes);
        ++writes_cut;
    }
    return syscall(SYS_write, fd, buffer, size);
}

int main(int argc, char **argv) {
    if (argc != 5 && argc != 6) {
        fprintf(stderr, "usage: %s LOG TAG LINES LENGTH [LOCK]\n", argv[0]);
        return 2;
    }
    const char *tag = argv[2];
    long lines = strtol(argv[3], nullptr, 10);
    long length = strtol(argv[4], nullptr, 10);
    std::string prefix = std::string(tag) + " ";
    if (tag[0] == '\0' || lines < 0 || length < static_cast<long>(prefix.size()) + 12) {
        return 2;
    }
    const char *shorten = getenv("SHORT_WRITES");
    short_writes = shorten != nullptr ? strtol(shorten, nullptr, 10) : 0;
    log_name = argv[1];

    DebugFile[0] = strdup(argv[1]);
    DebugLock = argc == 6 ? strdup(argv[5]) : nullptr;
    DebugFlags = D_ALWAYS;
    _torvel_dprintf_works = 1;
    for (long n = 0; n < lines; ++n) {
        std::string line = prefix + std::to_string(n) + " ";
        line.append(static_cast<size_t>(length) - line.size() - 1, tag[0]);
        dprintf(D_ALWAYS, "%s\n", line.c_str());
    }
    if (short_writes > 0) {
        fprintf(stderr, "cut %ld writes short\n", writes_cut);
    }
    return 0;
}
