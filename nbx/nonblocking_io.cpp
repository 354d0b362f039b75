// Blocking sends and receives on brokered descriptors, carried out as
// non-blocking calls plus the layer's own select, so the layer keeps serving
// broker commands and datagrams while the application waits.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/select.h>

#include "nbx/generic_log.h"
#include "nbx/nbx_ops.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "nonblocking_io"

extern "C" {

int _NBX_is_blocking(int fd, int flags, int *status_flags) {
    int status = fcntl(fd, F_GETFL);
    if (status_flags != nullptr) *status_flags = status < 0 ? 0 : status;
    if (status < 0) {
        NBX_ERROR("_NBX_is_nonblocking: fcntl(%d, F_GETFL) failed", fd);
        return -1;
    }
    if ((flags & MSG_DONTWAIT) != 0 || (status & O_NONBLOCK) != 0) return 0;
    return 1;
}

ssize_t _NBX_nonblock_send(int fd, const void *buffer, size_t size, int flags, int status_flags) {
    (void)status_flags;
    for (;;) {
        ssize_t sent = __real_send(fd, buffer, size, flags | MSG_DONTWAIT);
        if (sent >= 0) {
            NBX_LOG(D_FULL, "_NBX_nonblock_send: returning %d\n", static_cast<int>(sent));
            return sent;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
            int saved = errno;
            NBX_LOG(D_FULL, "_NBX_nonblock_send: returning -1, errno %d (%s)\n", saved,
                    strerror(saved));
            errno = saved;
            return -1;
        }
        if (_CB_selectOne(fd, true, nullptr) < 0 && errno != EINTR) {
            int saved = errno;
            NBX_LOG(D_BASIC, "_NBX_nonblock_send: _CB_select() failed\n");
            errno = saved;
            return -1;
        }
    }
}

ssize_t _NBX_nonblock_recvfrom(int fd, void *buffer, size_t size, int flags,
                               struct sockaddr *address, socklen_t *length, struct timeval *timeout,
                               int status_flags) {
    bool caller_wont_wait = (status_flags & O_NONBLOCK) != 0 || (flags & MSG_DONTWAIT) != 0;
    for (;;) {
        ssize_t got = address != nullptr
                          ? __real_recvfrom(fd, buffer, size, flags | MSG_DONTWAIT, address, length)
                          : __real_recv(fd, buffer, size, flags | MSG_DONTWAIT);
        if (got >= 0) {
            NBX_LOG(D_FULL, "_NBX_nonblock_recvfrom: returning %d\n", static_cast<int>(got));
            return got;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
            int saved = errno;
            NBX_LOG(D_FULL, "_NBX_nonblock_recvfrom: returning -1, errno %d (%s)\n", saved,
                    strerror(saved));
            errno = saved;
            return -1;
        }
        if (caller_wont_wait) {
            NBX_LOG(D_FULL, "_NBX_nonblock_recvfrom: returning errno EAGAIN\n");
            errno = EAGAIN;
            return -1;
        }
        int ready = _CB_selectOne(fd, false, timeout);
        if (ready == 0 && timeout != nullptr) {
            // The caller's time limit has run out; polling on would spin.
            NBX_LOG(D_FULL, "_NBX_nonblock_recvfrom: returning errno EAGAIN\n");
            errno = EAGAIN;
            return -1;
        }
        if (ready < 0 && errno != EINTR) {
            int saved = errno;
            NBX_ERROR("_NBX_nonblock_recvfrom: _CB_select() failed");
            // A descriptor or time-out the select can never accept would make
            // the retry spin for ever.
            if (saved == EBADF || saved == EINVAL) {
                errno = saved;
                return -1;
            }
        }
    }
}

ssize_t _NBX_nonblock_recv(int fd, void *buffer, size_t size, int flags, struct timeval *timeout,
                           int status_flags) {
    return _NBX_nonblock_recvfrom(fd, buffer, size, flags, nullptr, nullptr, timeout, status_flags);
}

}  // extern "C"
