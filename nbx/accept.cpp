// The brokered accept: hands out connections the event handling already
// made for a listening socket (accepted directly or connected on a CONTACT
// command), in arrival order, waiting in the layer's select for one when
// the socket is blocking. Also an accept that waits at most a given time.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>

#include "nbx/connection.h"
#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "accept"

namespace {

// The first queued connection of info, handed to the caller.
int take_queued(SockInfo *info, struct sockaddr *address, socklen_t *length) {
    CBConn *conn = info->conn_q_head;
    info->conn_q_head = conn->next;
    if (info->conn_q_head == nullptr) info->conn_q_tail = nullptr;
    int fd = conn->fd;
    if (address != nullptr) {
        struct sockaddr_in peer = _CB_sockaddr(conn->ip, conn->port);
        // Never more than the caller has room for.
        size_t room = length != nullptr && *length < sizeof peer ? *length : sizeof peer;
        memcpy(address, &peer, room);
        NBX_LOG(D_FULL, "\tconnection from %s accepted. newfd = %d returned\n",
                _ipport2str(conn->ip, conn->port), fd);
    } else {
        NBX_LOG(D_FULL, "\tconnection accepted. newfd = %d returned\n", fd);
    }
    free(conn);
    _NBX_errno = NBX_ERRNO_NONE;
    return fd;
}

// accept on a descriptor the layer does not manage.
int accept_unmanaged(int fd, struct sockaddr *address, socklen_t *length) {
    NBX_LOG(D_FULL, "accept(%d[NOT_DEFINED], ...)\n", fd);
    int result = __real_accept(fd, address, length);
    int saved = errno;
    NBX_LOG(D_FULL, "NBX_accept() returning %d\n", result);
    _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
    errno = saved;
    return result;
}

// The next queued connection of the listening socket fd (file status
// flags given); a blocking socket waits until there is one.
int next_queued(int fd, SockInfo *info, int flags, struct sockaddr *address, socklen_t *length) {
    for (;;) {
        if (info->conn_q_head != nullptr) return take_queued(info, address, length);
        if ((flags & O_NONBLOCK) != 0) {
            errno = EAGAIN;
            NBX_LOG(D_FULL, "NBX_accept() returning EAGAIN\n");
            _NBX_errno = NBX_ERRNO_NONE;
            return -1;
        }
        // The layer's select runs the event handling, which queues connections.
        if (_CB_selectOne(fd, false, nullptr) < 0 && errno != EINTR) {
            NBX_ERROR("NBX_accept() _CB_select() failed");
            if (_NBX_errno == NBX_ERRNO_NONE) _NBX_errno = NBX_ERRNO_SYSTEM;
            return -1;
        }
    }
}

int restore_flags(int fd, int flags, const char *message) {
    int saved = errno;
    if (fcntl(fd, F_SETFL, flags) < 0) {
        NBX_ERROR("%s", message);
        return -1;
    }
    errno = saved;
    return 0;
}

}  // namespace

extern "C" {

int NBX_accept(int fd, struct sockaddr *address, socklen_t *length) {
    if (!_CB_initialized) _CB_initialize();
    if (fd < 0 || fd >= _NBX_max_no_fds) {
        NBX_LOG(D_BASIC, "NBX_accept: fd is too big. Returning error...\n");
        errno = EBADF;
        _NBX_errno = NBX_ERRNO_INVALID_ARGUMENT;
        return -1;
    }
    int type = _CB_fdInfo[fd].type;
    if (type == MANAGER) {
        NBX_LOG(D_FULL, "NBX_accept called with MANAGER\n");
        errno = EBADF;
        _NBX_errno = NBX_ERRNO_INTERNAL_SOCKET;
        return -1;
    }
    if (type == NOT_DEFINED) return accept_unmanaged(fd, address, length);
    SockInfo *info = _CB_fdInfo[fd].info;
    if (info->status != LISTENING) {
        NBX_LOG(D_BASIC, "NBX_accept() called for an fd not listening");
        _CB_dumpSockInfo(info, D_BASIC, "\t");
        errno = EINVAL;
        _NBX_errno = NBX_ERRNO_INVALID_STATUS;
        return -1;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) {
        NBX_ERROR("NBX_accept: fcntl() failed");
        _NBX_errno = NBX_ERRNO_SYSTEM;
        return -1;
    }
    NBX_LOG(D_FULL, "NBX_accept(%d[NBX_SOCKET at %s] ...)...\n", fd,
            _ipport2str(info->canon.ip, info->canon.port));
    return next_queued(fd, info, flags, address, length);
}

int _CB_do_accept(int fd, struct sockaddr *address, socklen_t *length, struct timeval *timeout) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) {
        NBX_ERROR("_CB_do_accept: fcntl failed");
        return -1;
    }
    if ((flags & O_NONBLOCK) != 0) return __real_accept(fd, address, length);
    if (fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        NBX_ERROR("_CB_do_accept: fcntl failed");
        return -1;
    }
    int accepted = __real_accept(fd, address, length);
    if (accepted >= 0 || errno != EAGAIN) {
        if (restore_flags(fd, flags, "_CB_do_accept: fcntl failed") != 0) {
            if (accepted >= 0) __real_close(accepted);
            return -1;
        }
        return accepted;
    }
    if (restore_flags(fd, flags, "_CB_do_accept: fcntl failed") != 0) return -1;
    for (;;) {
        int wait_ms = -1;
        if (timeout != nullptr) {
            long long ms = static_cast<long long>(timeout->tv_sec) * 1000 + timeout->tv_usec / 1000;
            wait_ms = ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms);
        }
        struct pollfd wait = {fd, POLLIN, 0};
        int ready = poll(&wait, 1, wait_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            NBX_ERROR("_CB_do_accept: select returned error");
            return -1;
        }
        if (ready == 0) {
            errno = ETIMEDOUT;
            NBX_LOG(D_BASIC, "_CB_do_accept: select return nothing within timeout\n");
            errno = ETIMEDOUT;
            return -1;
        }
        accepted = __real_accept(fd, address, length);
        if (accepted < 0) NBX_ERROR("_CB_do_accept: accept failed");
        return accepted;
    }
}

}  // extern "C"
