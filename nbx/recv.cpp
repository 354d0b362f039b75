// The brokered recv and read. A brokered TCP descriptor that may block
// waits in the layer's select, which keeps serving broker commands; a
// brokered UDP descriptor is read from the datagrams the layer buffered.
#include <errno.h>

#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "recv"

namespace {

ssize_t with_code(ssize_t result) {
    _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
    return result;
}

}  // namespace

extern "C" {

ssize_t TCPrecv(int fd, void *buffer, size_t size, int flags) {
    NBX_LOG(D_FULL, "NBX_recv(%d[NBX, TCP])\n", fd);
    int status_flags = 0;
    if (_NBX_is_blocking(fd, flags, &status_flags) == 0) {
        ssize_t got = __real_recv(fd, buffer, size, flags);
        if (got >= 0) {
            _NBX_errno = NBX_ERRNO_NONE;
            return got;
        }
        if (errno != EAGAIN) {
            _NBX_errno = NBX_ERRNO_SYSTEM;
            return -1;
        }
    }
    ssize_t got = _NBX_nonblock_recv(fd, buffer, size, flags, nullptr, status_flags);
    if (got >= 0) {
        _NBX_errno = NBX_ERRNO_NONE;
        return got;
    }
    if (errno != EAGAIN) _NBX_errno = NBX_ERRNO_SYSTEM;
    return -1;
}

ssize_t NBX_recv(int fd, void *buffer, size_t size, int flags) {
    if (!_CB_initialized) _CB_initialize();
    if (_CB_inTable(fd) && _CB_fdInfo[fd].type == TCP) return TCPrecv(fd, buffer, size, flags);
    if (_CB_inTable(fd) && _CB_fdInfo[fd].type == UDP) {
        return UDPrecv(fd, buffer, size, flags, nullptr, nullptr);
    }
    return with_code(__real_recv(fd, buffer, size, flags));
}

ssize_t NBX_read(int fd, void *buffer, size_t size) {
    if (!_CB_initialized) _CB_initialize();
    if (_CB_inTable(fd) && _CB_fdInfo[fd].type == TCP) return TCPrecv(fd, buffer, size, 0);
    if (_CB_inTable(fd) && _CB_fdInfo[fd].type == UDP) {
        return UDPrecv(fd, buffer, size, 0, nullptr, nullptr);
    }
    return with_code(__real_read(fd, buffer, size));
}

}  // extern "C"
