// Writing one debug line (_torvel_dprintf_va) and the lines kept in memory
// before the log is set up, with the log's process-wide variables. A write
// blocks the catchable non-fault signals, sets the umask to 022, zeroes
// DebugFlags (so that logging done by the write itself is dropped) and
// runs as PRIV_TORVEL; all four, and errno, are restored afterwards. Each
// line is assembled whole and reaches a log file in one write.
// Locking, opening and rotating each log is in debug_lock.cpp and
// log_rotation.cpp; the log's fatal exit in dprintf_exit.cpp.
#include "diagnostics/debug_log.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <initializer_list>

#include "core/bounded_printf.h"
#include "diagnostics/debug_log_internal.h"
#include "diagnostics/except.h"
#include "identity/privileges.h"
#include "nbx/wrappers.h"

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

// ---- One line, assembled whole ----

// Each line reaches its log file in one write: the files are opened for
// appending, so the lines of processes that share a log without DebugLock
// never interleave, however long they are. The buffer is kept from line
// to line while it is no larger than kKeptLineBuffer.
constexpr size_t kKeptLineBuffer = 64 * 1024;

struct LineBuffer {
    char *data = nullptr;  // malloc
    size_t length = 0;
    size_t capacity = 0;
    bool failed = false;  // memory ran out: the line is incomplete
};

LineBuffer line_buffer;

// Room for more bytes and a terminator.
bool reserve(LineBuffer *line, size_t more) {
    if (line->failed) {
        return false;
    }
    size_t need = line->length + more + 1;
    if (need <= line->capacity) {
        return true;
    }
    size_t capacity = std::max({need, line->capacity * 2, static_cast<size_t>(1024)});
    char *data = static_cast<char *>(realloc(line->data, capacity));
    if (data == nullptr) {
        line->failed = true;
        return false;
    }
    line->data = data;
    line->capacity = capacity;
    return true;
}

void append(LineBuffer *line, const char *text, size_t size) {
    if (reserve(line, size)) {
        memcpy(line->data + line->length, text, size);
        line->length += size;
    }
}

void append_va(LineBuffer *line, const char *format, va_list args) {
    if (!reserve(line, 0)) {
        return;
    }
    size_t room = line->capacity - line->length;
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(line->data + line->length, room, format, copy);
    va_end(copy);
    if (n < 0) {
        return;  // as vfprintf, a format that cannot be written adds nothing
    }
    if (static_cast<size_t>(n) >= room) {
        if (!reserve(line, static_cast<size_t>(n))) {
            return;
        }
        va_copy(copy, args);
        vsnprintf(line->data + line->length, static_cast<size_t>(n) + 1, format, copy);
        va_end(copy);
    }
    line->length += static_cast<size_t>(n);
}

// The caller's identification: DebugId writes into a stream of its own,
// whose text joins the line.
void append_id(LineBuffer *line) {
    char *text = nullptr;
    size_t size = 0;
    FILE *id = open_memstream(&text, &size);
    if (id == nullptr) {
        line->failed = true;
        return;
    }
    DebugId(id);
    if (fclose(id) != 0) {
        line->failed = true;
    } else {
        append(line, text, size);
    }
    free(text);
}

// "%d/%d %02d:%02d:%02d " and, as header_flags ask, "(fd:%d) " with fd and
// "(pid:%d) "; the length.
int format_header(char *out, size_t size, unsigned header_flags, const struct tm &now, int fd) {
    int n = snprintf(out, size, "%d/%d %02d:%02d:%02d ", now.tm_mon + 1, now.tm_mday, now.tm_hour,
                     now.tm_min, now.tm_sec);
    if ((header_flags & D_FDS) != 0) {
        n += snprintf(out + n, size - static_cast<size_t>(n), "(fd:%d) ", fd);
    }
    if ((header_flags & D_PID) != 0) {
        n += snprintf(out + n, size - static_cast<size_t>(n), "(pid:%d) ",
                      static_cast<int>(getpid()));
    }
    return n;
}

// The whole line for stream in line_buffer; false when memory ran out.
bool assemble(FILE *stream, unsigned header_flags, const struct tm &now, const char *format,
              va_list args) {
    LineBuffer *line = &line_buffer;
    line->length = 0;
    line->failed = false;
    if ((header_flags & D_NOHEADER) == 0) {
        char header[96];
        int n = format_header(header, sizeof header, header_flags, now, fileno(stream));
        append(line, header, static_cast<size_t>(n));
        if (DebugId != nullptr) {
            append_id(line);
        }
    }
    append_va(line, format, args);
    return !line->failed;
}

void release_large_buffer() {
    if (line_buffer.capacity > kKeptLineBuffer) {
        free(line_buffer.data);
        line_buffer = LineBuffer();
    }
}

// Writes size bytes to the level's own log file in one call, continuing
// after a short write, behind whatever the stream still holds (a rotation's
// notes). False with errno when the file does not take them.
bool write_to_file(FILE *stream, const char *data, size_t size) {
    if (fflush(stream) != 0) {
        return false;
    }
    int fd = fileno(stream);
    while (size > 0) {
        // The log's own descriptor is never brokered: the system's write.
        ssize_t n = __real_write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Without memory for the whole line, it goes through the stream in parts.
bool write_in_parts(FILE *stream, unsigned header_flags, const struct tm &now, const char *format,
                    va_list args) {
    if ((header_flags & D_NOHEADER) == 0) {
        char header[96];
        format_header(header, sizeof header, header_flags, now, fileno(stream));
        fputs(header, stream);
        if (DebugId != nullptr) {
            DebugId(stream);
        }
    }
    va_list copy;
    va_copy(copy, args);
    vfprintf(stream, format, copy);
    va_end(copy);
    return fflush(stream) == 0 && !ferror(stream);
}

// A main log file that cannot take the line is the log's own failure; a
// caller's stream (standard error by default) and per-category logs are
// left as they are.
void check_written(int level, bool written) {
    if (!written && level == 0 && DebugFile[0] != nullptr) {
        _torvel_dprintf_exitf(errno, "Can't write to DebugFile \"%s\"\n", DebugFile[0]);
    }
}

bool write_to_stream(int level, FILE *stream, unsigned header_flags, const struct tm &now,
                     const char *format, va_list args) {
    if (!assemble(stream, header_flags, now, format, args)) {
        return write_in_parts(stream, header_flags, now, format, args);
    }
    const LineBuffer &line = line_buffer;
    if (DebugFile[level] != nullptr) {
        return write_to_file(stream, line.data, line.length);
    }
    // A caller's stream keeps its own buffering.
    bool written = fwrite(line.data, 1, line.length, stream) == line.length;
    return fflush(stream) == 0 && !ferror(stream) && written;
}

void write_level(int level, unsigned header_flags, const struct tm &now, const char *format,
                 va_list args) {
    FILE *stream = debug_lock(level);
    if (stream != nullptr) {
        check_written(level, write_to_stream(level, stream, header_flags, now, format, args));
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
    release_large_buffer();
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
