// The brokered select and the layer's internal select. Both add the layer's
// own descriptors to the caller's sets, wait in slices (so heartbeats and
// recovery keep their schedule while the caller waits), run the handlers of
// whatever became ready, and report readiness of brokered sockets as the
// application expects it: a listening socket when a connection is queued, a
// UDP socket when a datagram is buffered. Only descriptors below FD_SETSIZE
// can be waited for.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/select.h>
#include <sys/time.h>
#include <time.h>

#include "nbx/async_event.h"
#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"
#include "net/nbx_address.h"

#define NBX_LOG_MODULE "select"

namespace {

const long long kMicros = 1000000;

// The texts that tell the two selects apart in the log.
struct LoopTexts {
    const char *calling;
    const char *returned;
    const char *returning;
    const char *gettimeofday_failed;
    bool application;  // NBX_select: recovery runs and _NBX_errno is set
};

const LoopTexts kNbxSelect = {"NBX_select: callin select(rd=%s, wr=%s, ex=%s)\n",
                              "NBX_select: select() returned: ready=%d, rd=%s, wr=%s, ex=%s\n",
                              "NBX_select: returning rd=%s, wr=%s, ex=%s\n",
                              "NBX_select: gettimeofday() failed", true};
const LoopTexts kCbSelect = {"_CB_select: calling select(rd=%s, wr=%s, ex=%s)\n",
                             "_CB_select: select() returned: ready=%d, rd=%s, wr=%s, ex=%s\n",
                             "_CB_select: returning rd=%s, wr=%s, ex=%s\n",
                             "_CB_select: gettimeofday() failed", false};

// The descriptors a select can hold for count: count itself when it is
// between 0 and FD_SETSIZE, the table's size (capped) when it is negative.
int effective_count(int count) {
    int limit = _NBX_max_no_fds < FD_SETSIZE ? _NBX_max_no_fds : FD_SETSIZE;
    if (count < 0 || count > limit) return limit;
    return count;
}

// Copies the first count bits of from (may be null) into a zeroed to.
void copy_bits(int count, const fd_set *from, fd_set *to) {
    FD_ZERO(to);
    if (from == nullptr) return;
    for (int fd = 0; fd < count; ++fd) {
        if (FD_ISSET(fd, from)) FD_SET(fd, to);
    }
}

// Writes the bits of from into the caller's set for every descriptor of the
// bytes count covers (the rest of the set is left alone).
void give_back(int count, const fd_set *from, fd_set *to) {
    if (to == nullptr) return;
    int covered = (count + 7) / 8 * 8;
    if (covered > FD_SETSIZE) covered = FD_SETSIZE;
    for (int fd = 0; fd < covered; ++fd) {
        if (fd < count && FD_ISSET(fd, from)) {
            FD_SET(fd, to);
        } else {
            FD_CLR(fd, to);
        }
    }
}

void log_sets(const char *format, int count, fd_set *rd, fd_set *wr, fd_set *ex) {
    char read_text[64];
    char write_text[64];
    snprintf(read_text, sizeof read_text, "%s", _prtfds(count, rd));
    snprintf(write_text, sizeof write_text, "%s", _prtfds(count, wr));
    NBX_LOG(D_FULL, format, read_text, write_text, _prtfds(count, ex));
}

long long micros_of(const struct timeval &tv) {
    return static_cast<long long>(tv.tv_sec) * kMicros + tv.tv_usec;
}

// Microseconds on the monotonic clock, so that a step of the wall clock
// neither stretches nor cuts the caller's timeout; false when unreadable.
bool monotonic_micros(long long *micros) {
    struct timespec now;
    if (_CB_clockRead(CLOCK_MONOTONIC, &now) != 0) return false;
    *micros = static_cast<long long>(now.tv_sec) * kMicros + now.tv_nsec / 1000;
    return true;
}

// Heartbeat and, for the application's select, recovery: the work done at
// the start of every pass.
void pass_upkeep(bool application) {
    time_t now = _CB_now();
    if (now - _CB_lastHeartBeat > CB_HEARTBEAT_INTERVAL) {
        _CB_triggerHeartBeat(now);
        _CB_lastHeartBeat = now;
    }
    if (application && _Broker_down_since != 0 && now - _Broker_down_since > CB_RECOVERY_DELAY &&
        (_CB_lastRecovery == 0 || now - _CB_lastRecovery > CB_RECOVERY_DELAY)) {
        _CB_recoverNBXsockets();
    }
}

// The working sets of one pass: the caller's bits plus the layer's own.
struct PassSets {
    fd_set rd, wr, ex;
    int count;
};

void build_pass(int count, fd_set *rd, fd_set *wr, fd_set *ex, PassSets *pass) {
    copy_bits(count, rd, &pass->rd);
    copy_bits(count, wr, &pass->wr);
    copy_bits(count, ex, &pass->ex);
    pass->count = count;
    _CB_addFDs(&pass->count, &pass->rd, &pass->wr);
}

// The wait of a pass: none in the first, then what remains, one slice at
// most.
struct timeval slice_of(bool first, long long remaining) {
    long long wait = 0;
    if (!first)
        wait = remaining < CB_SELECT_SLICE * kMicros ? remaining : CB_SELECT_SLICE * kMicros;
    struct timeval slice = {static_cast<time_t>(wait / kMicros),
                            static_cast<suseconds_t>(wait % kMicros)};
    return slice;
}

// Logs a failed system select as the calling select does (nothing for
// EINTR); errno is error afterwards.
void log_select_failure(const LoopTexts &texts, int error) {
    if (error != EINTR && texts.application) {
        NBX_LOG(D_BASIC, "NBX_select: select failed - %s\n", strerror(error));
    } else if (error != EINTR) {
        errno = error;
        NBX_ERROR("_CB_select: select() failed");
    }
    errno = error;
}

// One wait of the system's select on the pass's sets, and the handlers of
// whatever became ready. Returns the system's count, or -1 (logged, errno
// from the failing call); *spent is the wait's length in microseconds.
int wait_pass(const LoopTexts &texts, PassSets *pass, struct timeval slice, long long *spent) {
    long long before = 0, after = 0;
    if (!monotonic_micros(&before)) {
        NBX_ERROR("%s", texts.gettimeofday_failed);
        return -1;
    }
    log_sets(texts.calling, pass->count, &pass->rd, &pass->wr, &pass->ex);
    int ready = __real_select(pass->count, &pass->rd, &pass->wr, &pass->ex, &slice);
    int saved = errno;
    if (!monotonic_micros(&after)) {
        NBX_ERROR("%s", texts.gettimeofday_failed);
        return -1;
    }
    *spent = after - before;
    if (ready < 0) {
        log_select_failure(texts, saved);
        return -1;
    }
    if (ready > 0) {
        char read_text[64];
        char write_text[64];
        snprintf(read_text, sizeof read_text, "%s", _prtfds(pass->count, &pass->rd));
        snprintf(write_text, sizeof write_text, "%s", _prtfds(pass->count, &pass->wr));
        NBX_LOG(D_FULL, texts.returned, ready, read_text, write_text,
                _prtfds(pass->count, &pass->ex));
        _CB_handleAsyncEvent(pass->count, &pass->rd, &pass->wr);
    }
    return ready;
}

// The loop both selects share. Returns the number of bits reported, or -1
// (errno from the failing call) after logging.
int select_loop(const LoopTexts &texts, int count, fd_set *rd, fd_set *wr, fd_set *ex,
                struct timeval *timeout) {
    bool endless = timeout == nullptr;
    long long remaining = endless ? CB_SLICE_NO_TIMEOUT * kMicros : micros_of(*timeout);
    if (remaining < 0) {
        errno = EINVAL;
        return -1;
    }
    PassSets pass;
    fd_set out_rd, out_wr;
    bool first = true;
    int reported = 0;
    for (;;) {
        pass_upkeep(texts.application);
        count = effective_count(count);
        build_pass(count, rd, wr, ex, &pass);
        long long spent = 0;
        if (wait_pass(texts, &pass, slice_of(first, remaining), &spent) < 0) return -1;
        if (!endless) remaining -= spent;
        FD_ZERO(&out_rd);
        FD_ZERO(&out_wr);
        reported = adjustFDs(count, rd, wr, &pass.rd, &pass.wr, &out_rd, &out_wr);
        if (reported < 0) {
            if (!texts.application) NBX_ERROR("_CB_select: adjustFDs failed");
            return -1;
        }
        first = false;
        if (reported > 0 || (!endless && remaining <= 0)) break;
    }
    give_back(count, &out_rd, rd);
    give_back(count, &out_wr, wr);
    give_back(count, &pass.ex, ex);
    log_sets(texts.returning, count, rd, wr, ex);
    _CB_lastCheck = _CB_now();
    return reported;
}

}  // namespace

extern "C" {

int NBX_select(int count, fd_set *read_set, fd_set *write_set, fd_set *except_set,
               struct timeval *timeout) {
    if (!_CB_initialized) _CB_initialize();
    int shown = effective_count(count);
    char read_text[64];
    char write_text[64];
    char except_text[64];
    snprintf(read_text, sizeof read_text, "%.49s", _prtfds(shown, read_set));
    snprintf(write_text, sizeof write_text, "%.49s", _prtfds(shown, write_set));
    snprintf(except_text, sizeof except_text, "%.49s", _prtfds(shown, except_set));
    if (timeout != nullptr) {
        NBX_LOG(D_FULL, "NBX_select(mxfd=%d, rd=%s, wr=%s, ex=%s <%d, %d>)\n", shown, read_text,
                write_text, except_text, static_cast<int>(timeout->tv_sec),
                static_cast<int>(timeout->tv_usec));
    } else {
        NBX_LOG(D_FULL, "NBX_select(mxfd=%d, rd=%s, wr=%s, ex=%s <infinite>)\n", shown, read_text,
                write_text, except_text);
    }
    int result = select_loop(kNbxSelect, count, read_set, write_set, except_set, timeout);
    _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
    return result;
}

int _CB_selectOne(int fd, bool for_write, struct timeval *timeout) {
    if (fd < 0 || fd >= FD_SETSIZE) {
        errno = EBADF;
        return -1;
    }
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    return for_write ? _CB_select(fd + 1, nullptr, &set, nullptr, timeout)
                     : _CB_select(fd + 1, &set, nullptr, nullptr, timeout);
}

int _CB_select(int count, fd_set *read_set, fd_set *write_set, fd_set *except_set,
               struct timeval *timeout) {
    if (!_CB_initialized) _CB_initialize();
    return select_loop(kCbSelect, count, read_set, write_set, except_set, timeout);
}

void _CB_addFDs(int *count, fd_set *read_set, fd_set *write_set) {
    int limit = _CB_maxfd < FD_SETSIZE ? _CB_maxfd : FD_SETSIZE;
    for (int fd = 0; fd < limit; ++fd) {
        const FdInfo &entry = _CB_fdInfo[fd];
        bool for_read = false;
        bool for_write = false;
        if (entry.type == MANAGER) {
            for_read = true;
        } else if ((entry.type == UDP || entry.type == TCP) && entry.info != nullptr &&
                   entry.info->owner == fd) {
            int status = entry.info->status;
            for_read = entry.type == UDP || status == LISTENING || status == PASSIVE_CONNECTING;
            for_write = entry.type == TCP && status == ACTIVE_CONNECTING;
        }
        if (for_read && read_set != nullptr) FD_SET(fd, read_set);
        if (for_write && write_set != nullptr) FD_SET(fd, write_set);
        if ((for_read || for_write) && fd + 1 > *count) *count = fd + 1;
    }
}

int adjustFDs(int count, fd_set *asked_read, fd_set *asked_write, fd_set *kernel_read,
              fd_set *kernel_write, fd_set *out_read, fd_set *out_write) {
    int reported = 0;
    if (count > FD_SETSIZE) count = FD_SETSIZE;
    for (int fd = 0; fd < count; ++fd) {
        bool want_read = asked_read != nullptr && FD_ISSET(fd, asked_read);
        bool want_write = asked_write != nullptr && FD_ISSET(fd, asked_write);
        if (!want_read && !want_write) continue;
        bool kernel_readable = kernel_read != nullptr && FD_ISSET(fd, kernel_read);
        bool kernel_writable = kernel_write != nullptr && FD_ISSET(fd, kernel_write);
        int type = _CB_inTable(fd) ? _CB_fdInfo[fd].type : NOT_DEFINED;
        const SockInfo *info = type == NOT_DEFINED ? nullptr : _CB_fdInfo[fd].info;
        bool readable = false;
        bool writable = false;
        if (type == NOT_DEFINED || info == nullptr) {
            readable = kernel_readable;
            writable = kernel_writable;
        } else if (type == TCP) {
            if (info->status < NONE || info->status > CONN_FAILED) {
                NBX_ABORT("adjustFDs: _CB_fdInfo[%d].info->status staled", fd);
            }
            switch (info->status) {
                case CONNECTED:
                    readable = kernel_readable;
                    writable = kernel_writable;
                    break;
                case LISTENING:
                    readable = info->conn_q_head != nullptr;
                    break;
                case ACTIVE_CONNECTING:
                    writable = kernel_writable;
                    break;
                case CONN_FAILED:
                    writable = true;
                    break;
                default:
                    break;
            }
        } else if (type == UDP) {
            readable = info->rcv_buf_head != nullptr;
        }
        if (want_read && readable) {
            FD_SET(fd, out_read);
            ++reported;
        }
        if (want_write && writable) {
            FD_SET(fd, out_write);
            ++reported;
        }
    }
    return reported;
}

}  // extern "C"
