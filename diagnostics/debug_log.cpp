// Writing one debug line (_torvel_dprintf_va) and the lines kept in memory
// before the log is set up, with the log's process-wide variables. A write
// blocks the catchable non-fault signals, sets the umask to 022, zeroes
// DebugFlags (so that logging done by the write itself is dropped) and
// runs as PRIV_TORVEL; all four, and errno, are restored afterwards.
// Locking, opening and rotating each log is in debug_lock.cpp and
// log_rotation.cpp; the log's fatal exit in dprintf_exit.cpp.
#include "diagnostics/debug_log.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <initializer_list>

#include "core/bounded_printf.h"
#include "diagnostics/debug_log_internal.h"
#include "diagnostics/except.h"
#include "identity/privileges.h"

// DebugFlags, _torvel_dprintf_works and dprintf itself live in
// dprintf_entry.cpp, which is also built alone as the dprintf_shim object.
extern "C" {
FILE *DebugFP = nullptr;
char *DebugFile[D_MAX_LOG_FILES] = {};
int MaxLog[D_MAX_LOG_FILES] = {};
char *DebugLock = nullptr;
int LockFd = -1;
void (*DebugId)(FILE *stream) = nullptr;
time_t DebugLastMod = 0;
}

int _torvel_dprintf_broken = 0;
int _torvel_dprintf_unlock_failed = 0;

namespace {

// ---- Saved lines: a first-in first-out list of formatted texts ----

// A program that never sets its log up (the launcher) keeps every line it
// logs, so the list is bounded: at most 1 MiB, counting each line's text,
// its terminator and its record. The oldest lines go first; the replay says
// how many went.
constexpr size_t kSavedLimit = 1 << 20;

struct SavedLine {
    int flags;
    char *text;  // malloc
    size_t cost;
    SavedLine *next;
};

SavedLine *saved_head = nullptr;
SavedLine **saved_tail = &saved_head;
size_t saved_bytes = 0;
unsigned long saved_dropped = 0;

void drop_oldest() {
    SavedLine *line = saved_head;
    saved_head = line->next;
    if (saved_head == nullptr) {
        saved_tail = &saved_head;
    }
    saved_bytes -= line->cost;
    ++saved_dropped;
    free(line->text);
    free(line);
}

void save_line(int flags, const char *format, va_list args) {
    int length = vprintf_length(format, args);
    if (length < 0) {
        return;  // a format that cannot be measured is dropped
    }
    size_t cost = static_cast<size_t>(length) + 1 + sizeof(SavedLine);
    if (cost > kSavedLimit) {
        ++saved_dropped;  // would push out every other line and still not fit
        return;
    }
    while (saved_bytes + cost > kSavedLimit) {
        drop_oldest();
    }
    char *text = static_cast<char *>(malloc(static_cast<size_t>(length) + 1));
    SavedLine *line = static_cast<SavedLine *>(malloc(sizeof(SavedLine)));
    if (text == nullptr || line == nullptr) {
        free(text);
        free(line);
        EXCEPT("Out of memory!");
    }
    va_list copy;
    va_copy(copy, args);
    vsnprintf(text, static_cast<size_t>(length) + 1, format, copy);
    va_end(copy);
    line->flags = flags;
    line->text = text;
    line->cost = cost;
    line->next = nullptr;
    *saved_tail = line;
    saved_tail = &line->next;
    saved_bytes += cost;
}

// ---- One write ----

// Everything a write changes and puts back.
struct WriteScope {
    sigset_t signals;
    mode_t umask_value;
    int error;
    int flags;
};

void enter_write(WriteScope *scope) {
    sigset_t blocked;
    sigfillset(&blocked);
    // Faults must still reach their handlers (or kill the process) at once.
    for (int fault : {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP}) {
        sigdelset(&blocked, fault);
    }
    sigprocmask(SIG_BLOCK, &blocked, &scope->signals);
    scope->umask_value = umask(022);
    scope->error = errno;
    scope->flags = DebugFlags;
    DebugFlags = 0;
}

void leave_write(const WriteScope &scope) {
    errno = scope.error;
    DebugFlags = scope.flags;
    if (scope.umask_value != 022) {
        umask(scope.umask_value);  // (a mask of 022 is in force already)
    }
    sigprocmask(SIG_SETMASK, &scope.signals, nullptr);
}

void write_header(FILE *stream, unsigned header_flags, const struct tm &now) {
    fprintf(stream, "%d/%d %02d:%02d:%02d ", now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min,
            now.tm_sec);
    if ((header_flags & D_FDS) != 0) {
        fprintf(stream, "(fd:%d) ", fileno(stream));
    }
    if ((header_flags & D_PID) != 0) {
        fprintf(stream, "(pid:%d) ", static_cast<int>(getpid()));
    }
    if (DebugId != nullptr) {
        DebugId(stream);
    }
}

// A main log file that cannot take the line is the log's own failure; a
// caller's stream (standard error by default) and per-category logs are
// left as they are.
void check_written(int level, FILE *stream) {
    if (fflush(stream) == 0 && !ferror(stream)) {
        return;
    }
    if (level == 0 && DebugFile[0] != nullptr) {
        _torvel_dprintf_exitf(errno, "Can't write to DebugFile \"%s\"\n", DebugFile[0]);
    }
}

void write_level(int level, unsigned header_flags, const struct tm &now, const char *format,
                 va_list args) {
    FILE *stream = debug_lock(level);
    if (stream != nullptr) {
        if ((header_flags & D_NOHEADER) == 0) {
            write_header(stream, header_flags, now);
        }
        va_list copy;
        va_copy(copy, args);
        vfprintf(stream, format, copy);
        va_end(copy);
        check_written(level, stream);
    }
    debug_unlock(level);
}

void write_line(int flags, unsigned header_flags, const char *format, va_list args) {
    // Only the log's files are reached as the service account; the switch
    // back restores the caller's ids exactly.
    priv_state previous = _torvel_set_priv_for_files(PRIV_TORVEL, __FILE__, __LINE__);
    time_t clock = time(nullptr);
    struct tm now;
    localtime_r(&clock, &now);

    write_level(0, header_flags, now, format, args);
    for (int level = 1; level < D_MAX_LOG_FILES; ++level) {
        unsigned category = 1u << (level - 1);
        if (DebugFile[level] != nullptr && (static_cast<unsigned>(flags) & category) != 0) {
            write_level(level, header_flags, now, format, args);
        }
    }
    _set_priv(previous, __FILE__, __LINE__, 0);
}

}  // namespace

extern "C" void _torvel_dprintf_va(int flags, const char *format, va_list args) {
    if (DebugFP == nullptr) {
        DebugFP = stderr;
    }
    if (_torvel_dprintf_broken) {
        return;
    }
    if (!_torvel_dprintf_works) {
        save_line(flags, format, args);
        return;
    }
    if ((DebugFlags & flags) == 0) {
        return;
    }
    WriteScope scope;
    enter_write(&scope);
    // A process that gave up root for good cannot reach the service
    // account's files; it writes nothing.
    if (get_priv() != PRIV_USER_FINAL) {
        unsigned header_flags = static_cast<unsigned>(flags) | static_cast<unsigned>(scope.flags);
        write_line(flags, header_flags, format, args);
    }
    leave_write(scope);
}

void _torvel_dprintf_saved_lines() {
    // Before set-up a replay would only save each line again (with one more
    // newline); the lines stay as they are until there is a log to write to.
    if (!_torvel_dprintf_works) {
        return;
    }
    // Detached first, so nothing written during the replay joins the list.
    SavedLine *line = saved_head;
    unsigned long dropped = saved_dropped;
    saved_head = nullptr;
    saved_tail = &saved_head;
    saved_bytes = 0;
    saved_dropped = 0;
    if (dropped > 0) {
        dprintf(D_ALWAYS, "Dropped the %lu oldest debug lines saved before the log was set up\n",
                dropped);
    }
    while (line != nullptr) {
        SavedLine *next = line->next;
        dprintf(line->flags, "%s\n", line->text);
        free(line->text);
        free(line);
        line = next;
    }
}

void dprintf_touch_log() {
    if (!_torvel_dprintf_works || DebugFile[0] == nullptr) {
        return;
    }
    priv_state previous = _torvel_set_priv_for_files(PRIV_TORVEL, __FILE__, __LINE__);
    utime(DebugFile[0], nullptr);
    _set_priv(previous, __FILE__, __LINE__, 0);
}

time_t dprintf_last_modification() {
    return DebugLastMod;
}
