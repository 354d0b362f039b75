// The brokered send and write. A blocking send waits in the layer's select
// rather than in the kernel, so broker commands and datagrams keep being
// served while the application waits.
#include <errno.h>

#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "send"

namespace {

bool is_brokered(int fd) {
    return _CB_fdInfo[fd].type == TCP || _CB_fdInfo[fd].type == UDP;
}

// The system's result with the layer's code: EAGAIN is no failure of the
// layer.
ssize_t with_code(ssize_t result) {
    _NBX_errno = result < 0 && errno != EAGAIN ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
    return result;
}

}  // namespace

extern "C" {

ssize_t NBX_send(int fd, const void *buffer, size_t size, int flags) {
    if (!_CB_initialized) _CB_initialize();
    // Descriptors beyond the table are never managed: the system's call.
    if (!_CB_inTable(fd)) return with_code(__real_send(fd, buffer, size, flags));
    NBX_LOG(D_FULL, "NBX_send (fd=%d, size=%d)\n", fd, static_cast<int>(size));
    int status_flags = 0;
    if (_NBX_is_blocking(fd, flags, &status_flags) != 0) {
        ssize_t sent = _NBX_nonblock_send(fd, buffer, size, flags, status_flags);
        _NBX_errno = sent < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
        return sent < 0 ? -1 : sent;
    }
    ssize_t sent = __real_send(fd, buffer, size, flags);
    int saved = errno;
    NBX_LOG(D_FULL, "NBX_send: returning %d\n", static_cast<int>(sent));
    errno = saved;
    return with_code(sent);
}

ssize_t NBX_write(int fd, const void *buffer, size_t size) {
    if (!_CB_initialized) _CB_initialize();
    if (!_CB_inTable(fd)) return __real_write(fd, buffer, size);
    NBX_LOG(D_FULL, "NBX_write (fd=%d, size=%d)\n", fd, static_cast<int>(size));
    if (!is_brokered(fd)) return __real_write(fd, buffer, size);
    int status_flags = 0;
    if (_NBX_is_blocking(fd, 0, &status_flags) != 0) {
        ssize_t sent = _NBX_nonblock_send(fd, buffer, size, 0, status_flags);
        _NBX_errno = sent < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
        return sent < 0 ? -1 : sent;
    }
    ssize_t written = __real_write(fd, buffer, size);
    int saved = errno;
    NBX_LOG(D_FULL, "NBX_write: returning %d\n", static_cast<int>(written));
    errno = saved;
    return with_code(written);
}

}  // extern "C"
