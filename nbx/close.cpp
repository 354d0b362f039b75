// The brokered close: keeps the socket table in step with the descriptors
// the application holds (references, the owner, the release of the last
// record together with its manager connection) and closes the descriptor
// with the system call. A manager descriptor stays open and a descriptor
// still waiting to be accepted is refused.
#include <errno.h>

#include "nbx/broker_client.h"
#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "close"

namespace {

int system_close(int fd) {
    int result = __real_close(fd);
    _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
    return result;
}

}  // namespace

extern "C" {

void _CB_releaseFd(int fd) {
    SockInfo *info = _CB_fdInfo[fd].info;
    int type = _CB_fdInfo[fd].type;
    info->refs--;
    if (info->refs == 0) {
        NBX_LOG(D_FULL, "\tref = 0\n");
        if (info->manager >= 0) {
            NBX_LOG(D_FULL, "\tclosing manager[%d]\n", info->manager);
            _CB_rmManager(info->manager);
        }
        NBX_LOG(D_FULL, "\tfreeing data structure\n");
        _CB_freeSockInfo(info);
    } else if (fd == info->owner) {
        NBX_LOG(D_FULL, "\tref = %d\n", static_cast<int>(info->refs));
        for (int other = 0; other < _CB_maxfd; ++other) {
            if (other != fd && _CB_fdInfo[other].info == info && _CB_fdInfo[other].type == type) {
                info->owner = other;
                break;
            }
        }
        NBX_LOG(D_FULL, "\towner changed to [%d]\n", info->owner);
    }
    _CB_fdInfo[fd].type = NOT_DEFINED;
    _CB_fdInfo[fd].info = nullptr;
    if (fd == _CB_maxfd - 1) _CB_setmaxfd(fd);
}

int NBX_close(int fd) {
    if (!_CB_initialized) _CB_initialize();
    if (!_CB_inTable(fd)) return system_close(fd);
    if (_CB_fdInfo[fd].type == MANAGER) {
        NBX_LOG(D_FULL, "NBX_close(%d[MANAGER]):do nothing and returning success\n", fd);
        _NBX_errno = NBX_ERRNO_INTERNAL_SOCKET;
        return 0;
    }
    if (_CB_isHiddenFd(fd)) {
        NBX_LOG(D_BASIC, "NBX_close(%d[HIDDEN]). Returning EBADF\n", fd);
        errno = EBADF;
        _NBX_errno = NBX_ERRNO_INTERNAL_SOCKET;
        return -1;
    }
    if (_CB_fdInfo[fd].type == NOT_DEFINED) {
        NBX_LOG(D_FULL, "close(%d[NOT_DEFINED])\n", fd);
        return system_close(fd);
    }
    NBX_LOG(D_FULL, "[NBX_close(%d[NBX_SOCKET)]\n", fd);
    _CB_releaseFd(fd);
    return system_close(fd);
}

}  // extern "C"
