// The brokered bind: a brokered socket is bound locally (its physical
// address) and, when a broker was configured at its creation, registered
// with the broker, whose answer gives the canonical address peers use.
// Without a broker the canonical address is the physical one. Also the
// replacement of a descriptor's socket, which rebinding to another port
// needs.
#include <errno.h>
#include <fcntl.h>
#include <string.h>

#include "nbx/broker_client.h"
#include "nbx/broker_message.h"
#include "nbx/connection.h"
#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"
#include "net/nbx_address.h"

#define NBX_LOG_MODULE "bind"

namespace {

// The log texts that tell NBX_bind and _CB_bind apart.
struct BindTexts {
    const char *not_created;
    const char *my_ip_failed;
    const char *bind_failed;
    const char *getsockname_failed;
};

const BindTexts kNbxBind = {"NBX_bind: status is not CREATED\n", "NBX_bind: _myIP failed\n",
                            "NBX_bind: binding the socket locally failed",
                            "NBX_bind: getsockname failed"};
const BindTexts kCbBind = {"_CB_bind: status is not CREATED\n", "_CB_bind: _myIP failed\n",
                           "_CB_bind: binding the socket locally failed",
                           "_CB_bind: getsockname failed"};

int fail(int code) {
    _NBX_errno = code;
    return -1;
}

// A fresh socket of fd's kind in fd's place; its physical port is forgotten.
int renew_socket(int fd, SockInfo *info) {
    int kind = _CB_fdInfo[fd].type == TCP ? SOCK_STREAM : SOCK_DGRAM;
    int fresh = __real_socket(AF_INET, kind, 0);
    if (fresh < 0) {
        NBX_ERROR("socket creation failed");
        return -1;
    }
    if (_CB_replaceFD(fd, fresh) != 0) {
        NBX_LOG(D_BASIC, "Can't replace socket\n");
        return -1;
    }
    info->phyAddr.port = 0;
    return 0;
}

// The steps NBX_bind and _CB_bind share once the descriptor is known to be
// brokered. use_requested: a requested address other than 0 becomes the
// physical address.
int brokered_bind(int fd, const struct sockaddr_in *requested, const BindTexts &texts,
                  bool use_requested, bool registration_code_is_system) {
    SockInfo *info = _CB_fdInfo[fd].info;
    if (info->status != CREATED) {
        NBX_LOG(D_BASIC, "%s", texts.not_created);
        errno = EINVAL;
        return fail(NBX_ERRNO_INVALID_STATUS);
    }
    if (info->phyAddr.ip.s_addr == 0) {
        if (use_requested && requested->sin_addr.s_addr != 0) {
            info->phyAddr.ip = requested->sin_addr;
        } else if (_myIP(&info->phyAddr.ip) < 0) {
            NBX_LOG(D_BASIC, "%s", texts.my_ip_failed);
            errno = EADDRNOTAVAIL;
            return fail(NBX_ERRNO_SYSTEM);
        }
    }
    bool wildcard = requested->sin_addr.s_addr == 0 && requested->sin_port == 0;
    if (info->phyAddr.port != 0 && info->phyAddr.port != requested->sin_port && !wildcard) {
        if (renew_socket(fd, info) != 0) return fail(NBX_ERRNO_SYSTEM);
    }
    if (info->phyAddr.port == 0) {
        if (__real_bind(fd, reinterpret_cast<const sockaddr *>(requested), sizeof *requested) !=
            0) {
            NBX_ERROR("%s", texts.bind_failed);
            return fail(NBX_ERRNO_SYSTEM);
        }
        struct sockaddr_in bound;
        socklen_t length = sizeof bound;
        memset(&bound, 0, sizeof bound);
        if (__real_getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length) != 0) {
            NBX_ERROR("%s", texts.getsockname_failed);
            return fail(NBX_ERRNO_SYSTEM);
        }
        info->phyAddr.port = bound.sin_port;
    }
    NBX_LOG(D_FULL, "\tLocal: %s\n", _ipport2str(info->phyAddr.ip, info->phyAddr.port));
    if (info->mode != ACTIVE) {
        info->canon = info->phyAddr;
        info->status = BOUND;
        NBX_LOG(D_FULL, "\tOfficial: %s\n", _ipport2str(info->canon.ip, info->canon.port));
    } else if (registerSock(fd, requested->sin_port) != 0) {
        if (registration_code_is_system) _NBX_errno = NBX_ERRNO_SYSTEM;
        return -1;
    }
    _NBX_errno = NBX_ERRNO_NONE;
    return 0;
}

// A usable AF_INET address, or null (EFAULT for none, EINVAL for anything
// else, as the system's bind says).
const struct sockaddr_in *inet_request(const struct sockaddr *address, socklen_t length) {
    if (address == nullptr) {
        errno = EFAULT;
        return nullptr;
    }
    if (length < sizeof(struct sockaddr_in) || address->sa_family != AF_INET) {
        errno = EINVAL;
        return nullptr;
    }
    return reinterpret_cast<const struct sockaddr_in *>(address);
}

}  // namespace

extern "C" {

int NBX_bind(int fd, const struct sockaddr *address, socklen_t length) {
    if (!_CB_initialized) _CB_initialize();
    if (fd < 0 || fd >= _NBX_max_no_fds) {
        NBX_LOG(D_BASIC, "NBX_bind: fd is too big. Returning error...\n");
        errno = EBADF;
        return fail(NBX_ERRNO_INVALID_ARGUMENT);
    }
    int type = _CB_fdInfo[fd].type;
    if (type == MANAGER) {
        NBX_LOG(D_BASIC, "NBX_bind is called for MANAGER\n");
        errno = EBADF;
        return fail(NBX_ERRNO_INTERNAL_SOCKET);
    }
    if (type == NOT_DEFINED) {
        int result = __real_bind(fd, address, length);
        int saved = errno;
        NBX_LOG(D_FULL, "bind(%d[NOT_DEFINED], ...) = %d\n", fd, result);
        _NBX_errno = result != 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
        errno = saved;
        return result;
    }
    const struct sockaddr_in *requested = inet_request(address, length);
    if (requested == nullptr) return fail(NBX_ERRNO_INVALID_ARGUMENT);
    NBX_LOG(D_FULL, "NBX_bind(%d[NBX_SOCKET], %s)\n", fd,
            _ipport2str(requested->sin_addr, requested->sin_port));
    return brokered_bind(fd, requested, kNbxBind, true, false);
}

int _CB_bind(int fd, const struct sockaddr *address, socklen_t length) {
    if (!_CB_initialized) _CB_initialize();
    int type = _CB_inTable(fd) ? _CB_fdInfo[fd].type : NOT_DEFINED;
    if (type == MANAGER) {
        NBX_LOG(D_BASIC, "_CB_bind is called for MANAGER\n");
        errno = EBADF;
        return fail(NBX_ERRNO_INTERNAL_SOCKET);
    }
    if (type == NOT_DEFINED) {
        int result = __real_bind(fd, address, length);
        _NBX_errno = result != 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
        return result;
    }
    const struct sockaddr_in *requested = inet_request(address, length);
    if (requested == nullptr) return fail(NBX_ERRNO_INVALID_ARGUMENT);
    return brokered_bind(fd, requested, kCbBind, false, true);
}

int registerSock(int fd, in_port_t port) {
    SockInfo *info = _CB_fdInfo[fd].info;
    CBConversation conversation;  // the lookup, the relay and the answer
    if (_CB_newManager(info) < 0) {
        NBX_LOG(D_BASIC, "registerSock: can't _CB_newManager\n");
        return -1;
    }
    int manager = info->manager;
    struct in_addr any = {};
    char opcode = _CB_fdInfo[fd].type == TCP ? CB_TCP_BIND : CB_UDP_BIND;
    if (_CBsend(manager, opcode, any, port, info->mode, info->phyAddr.ip, info->phyAddr.port, any,
                0, 0) < 0) {
        NBX_LOG(D_BASIC, "NBX_bind: _CBsend(BIND) failed\n");
        _NBX_errno = _CB_brokerErrno(-1, errno);
        int saved = errno;
        _CB_rmManager(manager);
        errno = saved;
        return -1;
    }
    char answer = 0;
    struct in_addr canon_ip = {};
    in_port_t canon_port = 0;
    unsigned char error = 0;
    int got = _CBrecv(manager, &answer, &canon_ip, &canon_port, nullptr, nullptr, nullptr, nullptr,
                      nullptr, &error);
    int result = -1;
    if (got <= 0) {
        int error = errno;
        NBX_LOG(D_BASIC, "NBX_bind. BIND req. sent. Could not get the result\n");
        _NBX_errno = _CB_brokerErrno(got, error);
    } else if (answer == CB_BIND_OK) {
        info->status = BOUND;
        info->canon.ip = canon_ip;
        info->canon.port = canon_port;
        NBX_LOG(D_FULL, "\tOfficial: %s\n", _ipport2str(canon_ip, canon_port));
        result = 0;
    } else if (answer == CB_NAK) {
        NBX_LOG(D_BASIC, "NBX_bind. BIND req. sent. BIND_NAK msg received: %s\n", strerror(error));
        errno = error;
        _NBX_errno = NBX_ERRNO_SYSTEM;
    } else {
        NBX_LOG(D_BASIC, "NBX_bind. Bind req. sent. unexpected msg received");
        _NBX_errno = NBX_ERRNO_BAD_MESSAGE_TYPE;
        errno = EPROTO;
    }
    if (result != 0) {
        int saved = errno;
        _CB_rmManager(manager);
        errno = saved;
    }
    return result;
}

int _CB_replaceFD(int fd, int new_fd) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) {
        NBX_ERROR("_CB_replaceFD: fcntl(GET) failed");
        _CB_closeKeepingErrno(new_fd);
        return -1;
    }
    if (fcntl(new_fd, F_SETFL, flags) < 0) {
        NBX_ERROR("_CB_replaceFD: fcntl(SET) failed");
        _CB_closeKeepingErrno(new_fd);
        return -1;
    }
    if (__real_dup2(new_fd, fd) < 0) {
        NBX_ERROR("_CB_replaceFD: dup2 failed");
        _CB_closeKeepingErrno(new_fd);
        return -1;
    }
    __real_close(new_fd);
    return 0;
}

}  // extern "C"
