// The broker's log: a file held open (or standard error), one write(2) per
// line, a burst limit per format, a size limit with one old generation, and
// a count of lines that could not be written. See broker_log.h.
#include "broker/broker_log.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "broker/broker_clock.h"

namespace nbx_broker {

namespace {

const int kLineMax = 1024;
// Formats tracked for the burst limit; call sites beyond it share the last.
const int kFormats = 64;

struct Repeats {
    const char *format;  // a call site's format, by address
    time_t window_start;
    int written;      // lines written in this window
    long suppressed;  // lines held back in this window
};

struct LogState {
    std::string path;  // "" for standard error
    int fd = 2;
    bool own_fd = false;
    long size = 0;
    long max_bytes = 0;
    int interval = 60;
    long lost = 0;        // dropped since the last line written
    long lost_total = 0;  // dropped since the log opened
    int lost_errno = 0;
    Repeats repeats[kFormats] = {};
};

LogState state;

int header(char *line, size_t room) {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    return snprintf(line, room, "%d/%d %02d:%02d:%02d ", local.tm_mon + 1, local.tm_mday,
                    local.tm_hour, local.tm_min, local.tm_sec);
}

bool reopen() {
    if (state.path.empty()) return true;
    if (state.own_fd) close(state.fd);
    state.own_fd = false;
    state.fd = open(state.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (state.fd < 0) return false;
    state.own_fd = true;
    struct stat status;
    state.size = fstat(state.fd, &status) == 0 ? static_cast<long>(status.st_size) : 0;
    return true;
}

// Moves a full log aside and starts a new one. The old generation goes
// first, so its space is free before the new file grows.
void rotate() {
    std::string old = state.path + ".old";
    if (rename(state.path.c_str(), old.c_str()) != 0) {
        // Cannot move it: start it over rather than grow past the limit.
        if (state.own_fd && ftruncate(state.fd, 0) == 0) state.size = 0;
        return;
    }
    reopen();
}

// Writes bytes as one line; false (counted as lost) when it cannot.
bool put(const char *bytes, size_t length) {
    if (!state.path.empty()) {
        if (!state.own_fd && !reopen()) {
            state.lost_errno = errno;
            return false;
        }
        if (state.max_bytes > 0 && state.size + static_cast<long>(length) > state.max_bytes) {
            rotate();
            if (!state.own_fd) {
                state.lost_errno = errno;
                return false;
            }
        }
    }
    ssize_t n;
    do {
        n = write(state.fd, bytes, length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        state.lost_errno = errno;
        return false;
    }
    state.size += static_cast<long>(n);
    return true;
}

// Writes one formatted line, first saying how many were lost before it.
void emit_line(const char *format, va_list args) {
    char line[kLineMax];
    if (state.lost > 0) {
        int length = header(line, sizeof line);
        snprintf(line + length, sizeof line - static_cast<size_t>(length),
                 "%ld log lines could not be written (%s)\n", state.lost,
                 strerror(state.lost_errno));
        if (!put(line, strlen(line))) {
            ++state.lost;
            ++state.lost_total;
            return;
        }
        state.lost = 0;
    }
    int length = header(line, sizeof line);
    int body = vsnprintf(line + length, sizeof line - static_cast<size_t>(length), format, args);
    size_t total = body < 0 ? static_cast<size_t>(length)
                            : static_cast<size_t>(length) + static_cast<size_t>(body);
    if (total >= sizeof line) {
        total = sizeof line - 1;
        line[total - 1] = '\n';  // a cut line still ends its line
    }
    if (!put(line, total)) {
        ++state.lost;
        ++state.lost_total;
    }
}

void emit(const char *format, ...) {
    va_list args;
    va_start(args, format);
    emit_line(format, args);
    va_end(args);
}

Repeats *repeats_of(const char *format) {
    for (Repeats &r : state.repeats) {
        if (r.format == format) return &r;
        if (r.format == nullptr) {
            r.format = format;
            r.window_start = broker_clock_now();
            return &r;
        }
    }
    return &state.repeats[kFormats - 1];
}

// The format as the summary quotes it: without its final newline.
std::string quoted(const char *format) {
    std::string text = format;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

void end_window(Repeats *r, time_t now) {
    if (r->suppressed > 0) {
        emit("%ld more lines like \"%s\" in the last %ld s\n", r->suppressed,
             quoted(r->format).c_str(), static_cast<long>(now - r->window_start));
    }
    r->window_start = now;
    r->written = 0;
    r->suppressed = 0;
}

}  // namespace

int broker_log_open(const char *path, long max_bytes, int repeat_interval) {
    broker_log_close();
    state.path = path;
    state.max_bytes = max_bytes;
    state.interval = repeat_interval > 0 ? repeat_interval : 1;
    state.lost = state.lost_total = 0;
    for (Repeats &r : state.repeats) r = Repeats{};
    if (reopen()) return 0;
    int saved = errno;
    state.lost_errno = saved;
    errno = saved;
    return -1;
}

void broker_log_close() {
    if (state.own_fd) close(state.fd);
    state.own_fd = false;
    state.fd = 2;
    state.path.clear();
}

namespace {

bool full_lines = false;

void log_limited(const char *format, va_list args) {
    Repeats *r = repeats_of(format);
    time_t now = broker_clock_now();
    if (now - r->window_start >= state.interval) end_window(r, now);
    if (r->written >= kLogBurst) {
        ++r->suppressed;
        return;
    }
    ++r->written;
    emit_line(format, args);
}

}  // namespace

void broker_log(const char *format, ...) {
    va_list args;
    va_start(args, format);
    log_limited(format, args);
    va_end(args);
}

void broker_log_full(const char *format, ...) {
    if (!full_lines) return;
    va_list args;
    va_start(args, format);
    log_limited(format, args);
    va_end(args);
}

void broker_log_set_full(bool on) {
    full_lines = on;
}

void broker_log_tick() {
    time_t now = broker_clock_now();
    for (Repeats &r : state.repeats) {
        if (r.format == nullptr) break;
        if (r.suppressed > 0 && now - r.window_start >= state.interval) end_window(&r, now);
    }
}

long broker_log_lost() {
    return state.lost_total;
}

}  // namespace nbx_broker
