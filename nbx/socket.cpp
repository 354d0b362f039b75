// The brokered socket call: an AF_INET stream or datagram socket gets a
// record in the table, in ACTIVE mode when a local broker is configured at
// that moment and PASSIVE otherwise; every other socket is the system's.
#include <stdlib.h>

#include "nbx/broker_client.h"
#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "socket"

extern "C" int NBX_socket(int domain, int type, int protocol) {
    if (!_CB_initialized) _CB_initialize();
    if (domain != AF_INET || (type != SOCK_STREAM && type != SOCK_DGRAM)) {
        int fd = __real_socket(domain, type, protocol);
        NBX_LOG(D_FULL, "NBX_socket(NOT_DEFINED): socket() returned fd %d\n", fd);
        _NBX_errno = fd < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
        return fd;
    }
    int fd = __real_socket(domain, type, protocol);
    if (fd < 0) {
        NBX_ERROR("NBX_socket: socket() failed");
        _NBX_errno = NBX_ERRNO_SYSTEM;
        return -1;
    }
    bool tcp = type == SOCK_STREAM;
    NBX_LOG(D_FULL, "NBX_socket(fd = %d, %s)\n", fd, tcp ? "TCP" : "UDP");
    // A descriptor beyond the table stays an ordinary socket.
    if (_CB_inTable(fd)) {
        SockInfo *info = static_cast<SockInfo *>(calloc(1, sizeof(SockInfo)));
        if (info == nullptr) NBX_ABORT("socket: can't create SockInfo");
        info->owner = fd;
        info->manager = -1;
        info->refs = 1;
        info->status = CREATED;
        info->mode = getBroker() != nullptr ? ACTIVE : PASSIVE;
        _CB_fdInfo[fd].type = tcp ? TCP : UDP;
        _CB_fdInfo[fd].info = info;
        _CB_raisemaxfd(fd);
    }
    _NBX_errno = NBX_ERRNO_NONE;
    return fd;
}
