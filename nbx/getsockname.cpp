// The brokered getsockname: a brokered socket answers with its canonical
// address, the one at which peers reach it through the broker, not the
// local one the kernel knows.
#include <errno.h>
#include <netinet/in.h>
#include <string.h>

#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "getsockname"

extern "C" int NBX_getsockname(int fd, struct sockaddr *address, socklen_t *length) {
    if (!_CB_initialized) _CB_initialize();
    int type = _CB_inTable(fd) ? _CB_fdInfo[fd].type : NOT_DEFINED;
    if (type == MANAGER) {
        NBX_LOG(D_BASIC, "NBX_getsockname called for MANAGER\n");
        errno = EBADF;
        _NBX_errno = NBX_ERRNO_INTERNAL_SOCKET;
        return -1;
    }
    if (type == NOT_DEFINED) {
        int result = __real_getsockname(fd, address, length);
        _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
        return result;
    }
    if (address == nullptr || length == nullptr) {
        errno = EFAULT;
        _NBX_errno = NBX_ERRNO_SYSTEM;
        return -1;
    }
    const SockInfo *info = _CB_fdInfo[fd].info;
    struct sockaddr_in canonical;
    memset(&canonical, 0, sizeof canonical);
    canonical.sin_family = AF_INET;
    canonical.sin_port = info->canon.port;
    canonical.sin_addr = info->canon.ip;
    // As the kernel does: a short buffer gets the leading bytes, and the
    // length says how long the address really is.
    socklen_t room = *length;
    memcpy(address, &canonical, room < sizeof canonical ? room : sizeof canonical);
    *length = sizeof canonical;
    _NBX_errno = NBX_ERRNO_NONE;
    return 0;
}
