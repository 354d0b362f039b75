// The brokered dup and dup2: the system call plus the table's bookkeeping,
// so a duplicated brokered descriptor shares its record and the record's
// owner stays its lowest descriptor. A brokered descriptor replaced by dup2
// leaves the table as if closed, and dup2 of a descriptor onto itself
// changes nothing.
#include <errno.h>

#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "dup"

namespace {

bool is_brokered(int fd) {
    return _CB_inTable(fd) && (_CB_fdInfo[fd].type == TCP || _CB_fdInfo[fd].type == UDP);
}

int refuse_manager(const char *message) {
    NBX_ERROR("%s", message);
    errno = EBADF;
    _NBX_errno = NBX_ERRNO_INTERNAL_SOCKET;
    return -1;
}

}  // namespace

extern "C" {

void copySock(int from, int to) {
    NBX_LOG(D_FULL, "copySock(%d to %d)\n", from, to);
    SockInfo *info = _CB_fdInfo[from].info;
    info->refs++;
    if (to < info->owner) info->owner = to;
    NBX_LOG(D_FULL, "copySock: info->refs = %d\n", static_cast<int>(info->refs));
    _CB_fdInfo[to].type = _CB_fdInfo[from].type;
    _CB_fdInfo[to].info = info;
    _CB_raisemaxfd(to);
}

int NBX_dup(int fd) {
    if (!_CB_initialized) _CB_initialize();
    if (_CB_inTable(fd) && _CB_fdInfo[fd].type == MANAGER) {
        return refuse_manager("NBX_dup() called with MANAGER socket");
    }
    if (!is_brokered(fd)) {
        int result = __real_dup(fd);
        _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
        return result;
    }
    NBX_LOG(D_FULL, "NBX_dup(%d)\n", fd);
    int copy = __real_dup(fd);
    if (copy < 0) {
        NBX_ERROR("NBX_dup: dup(%d) failed", fd);
        _NBX_errno = NBX_ERRNO_SYSTEM;
        return -1;
    }
    if (_CB_inTable(copy)) copySock(fd, copy);
    _NBX_errno = NBX_ERRNO_NONE;
    return copy;
}

int NBX_dup2(int fd, int target) {
    if (!_CB_initialized) _CB_initialize();
    if ((_CB_inTable(fd) && _CB_fdInfo[fd].type == MANAGER) ||
        (fd != target && _CB_inTable(target) && _CB_fdInfo[target].type == MANAGER)) {
        return refuse_manager("NBX_dup2() called with MANAGER socket");
    }
    bool brokered = is_brokered(fd);
    if (brokered) NBX_LOG(D_FULL, "NBX_dup2(%d, %d)\n", fd, target);
    int result = __real_dup2(fd, target);
    if (result < 0) {
        if (brokered) NBX_ERROR("NBX_dup2: dup2() failed");
        _NBX_errno = NBX_ERRNO_SYSTEM;
        return result;
    }
    if (fd != target) {
        if (is_brokered(target)) _CB_releaseFd(target);
        if (brokered && _CB_inTable(target)) copySock(fd, target);
    }
    _NBX_errno = NBX_ERRNO_NONE;
    return result;
}

}  // extern "C"
