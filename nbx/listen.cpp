// The brokered listen: a socket registered with the broker announces its
// listening there (LISTEN, answered by ACK) and listens locally as well, so
// connections arrive both as CONTACT commands from the broker and directly
// at the physical address.
#include <errno.h>

#include "nbx/broker_client.h"
#include "nbx/broker_message.h"
#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "listen"

namespace {

// Closes the manager connection, keeping errno; lost marks the socket for
// recovery.
void close_manager(SockInfo *info, bool lost) {
    int saved = errno;
    _CB_rmManager(info->manager);
    if (lost) info->manager = NEED_RECOVER;
    errno = saved;
}

// LISTEN at the broker; 0 on ACK, else -1 with _NBX_errno set.
int announce(SockInfo *info) {
    CBConversation conversation;
    struct in_addr none = {};
    if (_CBsend(info->manager, CB_LISTEN, info->canon.ip, info->canon.port, 0, none, 0, none, 0,
                0) < 0) {
        _NBX_errno = _CB_brokerErrno(-1, errno);
        NBX_LOG(D_BASIC, "NBX_listen: _CBsend(LISTEN) failed\n");
        close_manager(info, true);
        return -1;
    }
    char opcode = 0;
    unsigned char error = 0;
    int got = _CBrecv(info->manager, &opcode, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, &error);
    if (got <= 0) {
        int error = errno;
        NBX_ERROR("NBX_listen: LISTEN sent, but _CBCrecv failed");
        close_manager(info, true);
        _NBX_errno = _CB_brokerErrno(got, error);
        return -1;
    }
    if (opcode == CB_ACK) return 0;
    if (opcode == CB_NAK) {
        close_manager(info, false);
        errno = error;
        _NBX_errno = NBX_ERRNO_SYSTEM;
        return -1;
    }
    NBX_LOG(D_BASIC, "NBX_listen: unexpected msg received\n");
    close_manager(info, false);
    errno = EPROTO;
    _NBX_errno = NBX_ERRNO_BAD_MESSAGE_TYPE;
    return -1;
}

}  // namespace

extern "C" int NBX_listen(int fd, int backlog) {
    if (!_CB_initialized) _CB_initialize();
    if (fd < 0 || fd >= _NBX_max_no_fds) {
        NBX_LOG(D_BASIC, "NBX_listen: fd is too big. Returning error...\n");
        errno = EBADF;
        _NBX_errno = NBX_ERRNO_INVALID_ARGUMENT;
        return -1;
    }
    int type = _CB_fdInfo[fd].type;
    if (type == MANAGER) {
        NBX_LOG(D_BASIC, "NBX_listen called for MANAGER\n");
        errno = EBADF;
        _NBX_errno = NBX_ERRNO_INTERNAL_SOCKET;
        return -1;
    }
    if (type == NOT_DEFINED) {
        NBX_LOG(D_FULL, "NBX_listen(%d) [NOT_DEFINED]\n", fd);
        int result = __real_listen(fd, backlog);
        _NBX_errno = result != 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
        return result;
    }
    SockInfo *info = _CB_fdInfo[fd].info;
    NBX_LOG(D_FULL, "NBX_listen(%d) [NBX_SOCKET]\n", fd);
    if (info->status != BOUND) {
        NBX_LOG(D_BASIC, "NBX_listen: socket not bound\n");
        errno = EINVAL;
        _NBX_errno = NBX_ERRNO_INVALID_STATUS;
        return -1;
    }
    if (info->manager >= 0 && announce(info) != 0) return -1;
    if (__real_listen(fd, backlog) != 0) {
        _NBX_errno = NBX_ERRNO_SYSTEM;
        if (info->manager >= 0) close_manager(info, false);
        return -1;
    }
    info->status = LISTENING;
    _NBX_errno = NBX_ERRNO_NONE;
    return 0;
}
