// The brokered getsockopt: the pending error of a brokered socket reflects
// the outcome of a connection the broker made on its behalf, so an
// application waiting for a non-blocking connect sees it as for a plain one.
#include <errno.h>
#include <string.h>

#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "getsockopt"

namespace {

int system_getsockopt(int fd, int level, int option, void *value, socklen_t *length) {
    int result = __real_getsockopt(fd, level, option, value, length);
    _NBX_errno = result == 0 ? NBX_ERRNO_NONE : NBX_ERRNO_SYSTEM;
    return result == 0 ? 0 : -1;
}

// Hands an int option value out as the kernel does: at most the caller's
// room, the length set to what was copied.
int give_int(int number, void *value, socklen_t *length) {
    if (value == nullptr || length == nullptr) {
        errno = EFAULT;
        _NBX_errno = NBX_ERRNO_SYSTEM;
        return -1;
    }
    socklen_t copied = *length < sizeof number ? *length : sizeof number;
    memcpy(value, &number, copied);
    *length = copied;
    _NBX_errno = NBX_ERRNO_NONE;
    return 0;
}

}  // namespace

extern "C" int NBX_getsockopt(int fd, int level, int option, void *value, socklen_t *length) {
    if (!_CB_initialized) _CB_initialize();
    int type = _CB_inTable(fd) ? _CB_fdInfo[fd].type : NOT_DEFINED;
    if (type == MANAGER) {
        NBX_LOG(D_BASIC, "NBX_getsockopt called for MANAGER\n");
        errno = EBADF;
        _NBX_errno = NBX_ERRNO_INTERNAL_SOCKET;
        return -1;
    }
    if (type == NOT_DEFINED) return system_getsockopt(fd, level, option, value, length);
    NBX_LOG(D_FULL, "NBX_getsockopt(%d)\n", fd);
    if (level == SOL_SOCKET && option == SO_ERROR) {
        const SockInfo *info = _CB_fdInfo[fd].info;
        if (info->status == PASSIVE_CONNECTING) return give_int(EINPROGRESS, value, length);
        if (info->status == CONN_FAILED) {
            int error = info->error;
            if (error == 0) {
                NBX_ERROR(
                    "NBX_getsockopt(%d): status is CONN_FAILED but errno = 0, returning "
                    "ECONNREFUSED",
                    fd);
                error = ECONNREFUSED;
            }
            return give_int(error, value, length);
        }
    }
    return system_getsockopt(fd, level, option, value, length);
}
