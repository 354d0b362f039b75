// The debug log's own way out: the fatal exit taken when the log cannot be
// opened, locked, rotated or written (status 44, distinct from the 4 of
// _EXCEPT_), and the panic for exhausted file descriptors. The report goes
// to "<LOG>/dprintf_failure.<subsystem>" when the configuration names a LOG
// directory, else to standard error. Afterwards the log writes nothing.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "config/param.h"
#include "config/subsystem.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/debug_log_internal.h"
#include "diagnostics/except.h"
#include "identity/privileges.h"

namespace {

// Highest descriptor (exclusive) closed by the panic to make room.
constexpr int kPanicCloseLimit = 50;

struct FailureReport {
    char first[128];
    const char *message;
    char error[256];
    char ids[64];
};

void write_report(FILE *out, const FailureReport &report) {
    fputs(report.first, out);
    fputs(report.message, out);
    fputs(report.error, out);
    fputs(report.ids, out);
}

// True when the report reached the LOG directory's failure file.
bool write_failure_file(const FailureReport &report) {
    char *dir = param("LOG");
    if (dir == nullptr) {
        return false;
    }
    const char *subsystem = mySubSystem != nullptr ? mySubSystem : "";
    size_t size = strlen(dir) + strlen(subsystem) + sizeof "/dprintf_failure.";
    char *path = static_cast<char *>(malloc(size));
    FILE *out = nullptr;
    if (path != nullptr) {
        snprintf(path, size, "%s/dprintf_failure.%s", dir, subsystem);
        out = fopen(path, "we");
    }
    free(path);
    free(dir);
    if (out == nullptr) {
        return false;
    }
    write_report(out, report);
    bool written = !ferror(out);
    return fclose(out) == 0 && written;
}

}  // namespace

void _torvel_dprintf_exit(int error, const char *message) {
    // Set first: reading LOG may log, and that must not come back here.
    _torvel_dprintf_broken = 1;

    FailureReport report;
    time_t clock = time(nullptr);
    struct tm now;
    localtime_r(&clock, &now);
    snprintf(report.first, sizeof report.first,
             "%d/%d %02d:%02d:%02d dprintf() had a fatal error in pid %d\n", now.tm_mon + 1,
             now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec, static_cast<int>(getpid()));
    report.message = message != nullptr ? message : "";
    report.error[0] = '\0';
    if (error != 0) {
        snprintf(report.error, sizeof report.error, "errno: %d (%s)\n", error, strerror(error));
    }
    snprintf(report.ids, sizeof report.ids, "euid: %d, ruid: %d\n", static_cast<int>(geteuid()),
             static_cast<int>(getuid()));

    if (!write_failure_file(report)) {
        write_report(stderr, report);
    }

    debug_unlock(0);
    if (_EXCEPT_Cleanup != nullptr) {
        _EXCEPT_Cleanup(821, errno, "dprintf hit fatal errors\n");
    }
    fflush(stderr);
    exit(44);
}

void _torvel_dprintf_exitf(int error, const char *format, ...) {
    char message[8192];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    _torvel_dprintf_exit(error, message);
}

void _torvel_fd_panic(int line, const char *file) {
    _set_priv(PRIV_TORVEL, __FILE__, __LINE__, 0);
    char panic[512];
    snprintf(panic, sizeof panic, "**** PANIC -- OUT OF FILE DESCRIPTORS at line %d in %s", line,
             file != nullptr ? file : "");

    for (int fd = 0; fd < kPanicCloseLimit; ++fd) {
        close(fd);
    }
    // The lock descriptor may be among those closed; closing released the
    // lock, and the fatal exit must not release it once more.
    if (LockFd >= 0 && LockFd < kPanicCloseLimit) {
        LockFd = -1;
    }

    const char *name = DebugFile[0];
    FILE *log = name != nullptr ? fopen(name, "ae") : nullptr;
    if (log == nullptr) {
        _torvel_dprintf_exitf(name != nullptr ? errno : 0, "Can't open \"%s\"\n%s\n",
                              name != nullptr ? name : "(null)", panic);
    }
    fseek(log, 0, SEEK_END);
    fprintf(log, "%s\n", panic);
    fflush(log);
    // The previous stream's descriptor is gone; the fatal exit flushes and
    // closes this one instead.
    DebugFP = log;
    _torvel_dprintf_exit(0, panic);
}
