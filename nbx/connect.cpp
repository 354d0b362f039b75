// The brokered connect. A UDP socket may dissolve its association; a
// destination that the routing table sends through the brokers is met as
// the destination's broker says (connect actively to an address, or wait
// for the peer to connect in; a UDP channel for datagram sockets); every
// other destination, and every case the brokers cannot help with, gets a
// direct connection that waits at most CB_CONNECT_TIMEOUT seconds.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "nbx/broker_client.h"
#include "nbx/broker_message.h"
#include "nbx/connection.h"
#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/route_table.h"
#include "nbx/sock_table.h"
#include "nbx/udp_channel.h"
#include "nbx/wrappers.h"
#include "net/nbx_address.h"

#define NBX_LOG_MODULE "connect"

namespace {

int fail(int code) {
    _NBX_errno = code;
    return -1;
}

// Records the peer of a connected UDP socket (allocated on first use).
void remember_peer(SockInfo *info, struct in_addr ip, in_port_t port) {
    if (info->connected == nullptr) {
        info->connected = static_cast<CBAddr *>(calloc(1, sizeof(CBAddr)));
        if (info->connected == nullptr) NBX_ABORT("malloc failed");
    }
    info->connected->ip = ip;
    info->connected->port = port;
}

void forget_peer(SockInfo *info) {
    free(info->connected);
    info->connected = nullptr;
}

void log_returning(int result) {
    int saved = errno;
    NBX_LOG(D_FULL, "returning %d(%s)\n", result, strerror(saved));
    errno = saved;
}

// connect(AF_UNSPEC): dissolves a UDP socket's association.
int unconnect(int fd, SockInfo *info, const struct sockaddr *address, socklen_t length) {
    if (_CB_fdInfo[fd].type != UDP) {
        NBX_LOG(D_BASIC, "[NBX_connect] unconnect call for nonUDP socket\n");
        errno = EOPNOTSUPP;
        return fail(NBX_ERRNO_NOT_SUPPORTED);
    }
    if (info->status != CONNECTED) {
        _NBX_errno = NBX_ERRNO_NONE;
        return 0;
    }
    // The caller's length: an AF_UNSPEC address may be shorter than 16 bytes.
    if (__real_connect(fd, address, length) != 0) {
        int saved = errno;
        NBX_ERROR("NBX_connect: unconnect failed");
        info->status = CONN_FAILED;
        forget_peer(info);
        info->error = saved;
        errno = saved;
        return fail(NBX_ERRNO_SYSTEM);
    }
    info->status = info->phyAddr.port != 0 ? BOUND : CREATED;
    forget_peer(info);
    _NBX_errno = NBX_ERRNO_NONE;
    return 0;
}

// A destination that is not a 16-byte AF_INET address: the system decides.
int connect_other(int fd, SockInfo *info, const struct sockaddr *address, socklen_t length) {
    NBX_LOG(D_FULL, "connect(%d[NBX_SOCKET], not sinaddr_in...)\n", fd);
    int result = __real_connect(fd, address, length);
    if (result != 0 && errno == EINPROGRESS) {
        info->status = ACTIVE_CONNECTING;
        _NBX_errno = NBX_ERRNO_NONE;
    } else if (result != 0) {
        info->error = errno;
        _NBX_errno = NBX_ERRNO_SYSTEM;
    } else {
        _NBX_errno = NBX_ERRNO_NONE;
    }
    log_returning(result);
    return result;
}

// Binds a brokered socket about to connect through the brokers, and sets its
// physical and canonical addresses. 0 or -1.
int prepare_brokered(int fd, SockInfo *info, const char *destination) {
    if (info->status == CREATED) {
        struct sockaddr_in any;
        memset(&any, 0, sizeof any);
        any.sin_family = AF_INET;
        if (__real_bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0) {
            info->error = errno;
            NBX_ERROR("[NBX_connect(%d)]%s: bind failed", fd, destination);
            return fail(NBX_ERRNO_SYSTEM);
        }
    }
    if (_myIP(&info->phyAddr.ip) < 0) {
        errno = EADDRNOTAVAIL;
        info->error = errno;
        NBX_LOG(D_BASIC, "[NBX_connect(%d)]%s: _myIP() failed", fd, destination);
        return fail(NBX_ERRNO_SYSTEM);
    }
    struct sockaddr_in bound;
    socklen_t length = sizeof bound;
    memset(&bound, 0, sizeof bound);
    if (__real_getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length) != 0) {
        info->error = errno;
        NBX_ERROR("[NBX_connect(%d)]%s: getsockname failed", fd, destination);
        return fail(NBX_ERRNO_SYSTEM);
    }
    info->phyAddr.port = bound.sin_port;
    struct sockaddr_in *broker = getBroker();
    info->canon.ip = broker != nullptr ? broker->sin_addr : info->phyAddr.ip;
    info->canon.port = info->phyAddr.port;
    info->status = BOUND;
    return 0;
}

// After a direct connection no broker names the socket: its addresses are
// the local ones the system gave it, which getsockname then reports.
void take_local_address(int fd, SockInfo *info) {
    struct sockaddr_in local;
    socklen_t length = sizeof local;
    memset(&local, 0, sizeof local);
    if (__real_getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0 ||
        local.sin_family != AF_INET) {
        return;
    }
    info->phyAddr.ip = local.sin_addr;
    info->phyAddr.port = local.sin_port;
    info->canon = info->phyAddr;
}

// The direct connection, TCP or UDP.
int connect_direct(int fd, SockInfo *info, const struct sockaddr_in *destination,
                   const char *text) {
    if (_CB_fdInfo[fd].type == UDP) {
        if (__real_connect(fd, reinterpret_cast<const sockaddr *>(destination),
                           sizeof *destination) != 0) {
            info->error = errno;
            NBX_ERROR("[NBX_connect(%d)]%s: UDP connect failed", fd, text);
            return fail(NBX_ERRNO_SYSTEM);
        }
        remember_peer(info, destination->sin_addr, destination->sin_port);
        // A registered UDP socket keeps the canonical address its broker gave.
        if (info->canon.port == 0) take_local_address(fd, info);
        info->status = CONNECTED;
        _NBX_errno = NBX_ERRNO_NONE;
        return 0;
    }
    struct timeval limit = {CB_CONNECT_TIMEOUT, 0};
    if (_CB_do_connect(fd, reinterpret_cast<const sockaddr *>(destination), sizeof *destination,
                       &limit) == 0) {
        take_local_address(fd, info);
        info->status = CONNECTED;
        _NBX_errno = NBX_ERRNO_NONE;
        return 0;
    }
    if (errno == EINPROGRESS) {
        take_local_address(fd, info);
        errno = EINPROGRESS;
        info->status = ACTIVE_CONNECTING;
        info->error = EINPROGRESS;
        log_returning(-1);
        return -1;
    }
    int saved = errno;
    NBX_LOG(D_BASIC, "[NBX_connect(%d)]%s: direct connect using _CB_do_connect failed\n", fd, text);
    info->status = CONN_FAILED;
    info->error = saved;
    _NBX_errno = NBX_ERRNO_SYSTEM;
    errno = saved;
    log_returning(-1);
    return -1;
}

// A UDP socket's channel through the brokers.
CBConnectOutcome connect_channel(int fd, SockInfo *info, const struct sockaddr_in *destination,
                                 const char *text) {
    struct sockaddr_in physical;
    CBConnectOutcome channel =
        _CB_openchannel(info, destination->sin_addr, destination->sin_port, &physical);
    if (channel == CB_CONNECT_FAILED) {
        NBX_LOG(D_BASIC, "[NBX_connect(%d)]%s: _CB_openchannel failed\n", fd, text);
        return CB_CONNECT_FAILED;
    }
    if (channel == CB_GO_DIRECT) return CB_GO_DIRECT;
    if (__real_connect(fd, reinterpret_cast<sockaddr *>(&physical), sizeof physical) != 0) {
        info->error = errno;
        char physical_text[CB_ADDR_TEXT_SIZE];
        _CB_addrText(physical_text, physical.sin_addr, physical.sin_port);
        NBX_ERROR(
            "[NBX_connect(%d)]%s: _CB_openchannel succeed. Now connecting to %s... UDP "
            "connect failed",
            fd, text, physical_text);
        _NBX_errno = NBX_ERRNO_SYSTEM;
        return CB_CONNECT_FAILED;
    }
    remember_peer(info, physical.sin_addr, physical.sin_port);
    info->status = CONNECTED;
    _NBX_errno = NBX_ERRNO_NONE;
    return CB_CONNECTED;
}

// The brokered TCP connection.
CBConnectOutcome connect_tcp_brokered(int fd, SockInfo *info, const struct sockaddr_in *destination,
                                      const char *text) {
    CBConnectOutcome result = NBX_TCP_connect(info, destination);
    if (result == CB_CONNECT_FAILED) {
        if (errno == EINPROGRESS) {
            _NBX_errno = NBX_ERRNO_NONE;
        } else {
            int saved = errno;
            NBX_LOG(D_BASIC, "[NBX_connect(%d)]%s: NBX_TCP_connect failed\n", fd, text);
            errno = saved;
        }
        return CB_CONNECT_FAILED;
    }
    if (result == CB_CONNECTED) _NBX_errno = NBX_ERRNO_NONE;
    return result;
}

// The common end of a brokered TCP connection that failed with errno: the
// socket is CONN_FAILED with that error, fd (unless -1) is closed, and the
// call fails with code.
CBConnectOutcome connection_failed(SockInfo *info, int fd, int code) {
    info->status = CONN_FAILED;
    info->error = errno;
    if (fd >= 0) _CB_closeKeepingErrno(fd);
    _NBX_errno = code;
    return CB_CONNECT_FAILED;
}

// Makes the accepted connection take the place of the listening socket fd,
// with fd's file status flags; false (logged) when that fails.
bool take_place_of(int fd, int accepted) {
    int flags = fcntl(fd, F_GETFL);
    const char *failed = nullptr;
    if (flags < 0) {
        failed = "NBX_TCP_connect: fcntl(F_GETFL) failed";
    } else if (fcntl(accepted, F_SETFL, flags) < 0) {
        failed = "NBX_TCP_connect: fcntl(F_SETFL) failed";
    } else if (__real_dup2(accepted, fd) < 0) {
        failed = "NBX_TCP_connect: dup2 failed";
    }
    if (failed != nullptr) NBX_ERROR("%s", failed);
    return failed == nullptr;
}

// The socket became a listening one for a passive connect; the connection
// that comes in takes its place.
CBConnectOutcome finish_passive(SockInfo *info, const char *text) {
    int fd = info->owner;
    struct sockaddr_in peer;
    socklen_t length = sizeof peer;
    memset(&peer, 0, sizeof peer);
    struct timeval limit = {CB_CONNECT_TIMEOUT, 0};
    int accepted = _CB_do_accept(fd, reinterpret_cast<sockaddr *>(&peer), &length, &limit);
    if (accepted < 0 && errno == EAGAIN) {
        errno = EINPROGRESS;
        info->error = EINPROGRESS;
        info->pendingSince = _CB_now();
        return CB_CONNECT_FAILED;
    }
    if (accepted < 0) {
        int saved = errno;
        NBX_LOG(D_BASIC,
                "NBX_TCP_connect(%d):%s: CONNECT sent; PASSIVE_CONNECT received; but _CB_do_accept "
                "failed\n",
                fd, text);
        errno = saved;
        return connection_failed(info, -1, NBX_ERRNO_SYSTEM);
    }
    if (!take_place_of(fd, accepted)) return connection_failed(info, accepted, NBX_ERRNO_SYSTEM);
    __real_close(accepted);
    info->status = CONNECTED;
    NBX_LOG(D_FULL, "\tPassively connected to %s\n", _ipport2str(peer.sin_addr, peer.sin_port));
    return CB_CONNECTED;
}

// Opens the request connection to the destination's broker and sends
// CONNECT. The request descriptor, or -1 with *outcome saying whether the
// call fails or the connection is to be made directly.
int send_connect(SockInfo *info, const struct sockaddr_in *destination, const char *text,
                 CBConnectOutcome *outcome) {
    bool socket_failed = false;
    int request = _CB_connectDestBroker(destination->sin_addr, &socket_failed);
    if (request < 0 && socket_failed) {
        NBX_ERROR("NBX_TCP_connect(%d)-%s: socket failed", info->owner, text);
        _NBX_errno = NBX_ERRNO_SYSTEM;
        *outcome = CB_CONNECT_FAILED;
        return -1;
    }
    if (request < 0) {
        NBX_ERROR("NBX_TCP_connect: connection to the dest broker failed");
        *outcome = CB_GO_DIRECT;
        return -1;
    }
    if (_CBsend(request, CB_CONNECT, info->canon.ip, info->canon.port, info->mode, info->phyAddr.ip,
                info->phyAddr.port, destination->sin_addr, destination->sin_port, 0) < 0) {
        NBX_LOG(D_BASIC, "NBX_TCP_connect: can't send CONNECT to the broker\n");
        _NBX_errno = _CB_brokerErrno(-1, errno);
        _CB_closeKeepingErrno(request);
        *outcome = CB_CONNECT_FAILED;
        return -1;
    }
    return request;
}

// The broker's answer to CONNECT on request: true with its opcode and
// address, or false (logged, _NBX_errno set, request closed).
bool receive_answer(int request, char *opcode, struct in_addr *ip, in_port_t *port) {
    int got =
        _CBrecv(request, opcode, nullptr, nullptr, nullptr, ip, port, nullptr, nullptr, nullptr);
    if (got > 0) return true;
    int error = got == 0 ? ECONNRESET : errno;
    NBX_LOG(D_BASIC, "NBX_TCP_connect: can't recv resp to CONNECT from the broker\n");
    _NBX_errno = _CB_brokerErrno(got, error);
    errno = error;
    _CB_closeKeepingErrno(request);
    return false;
}

// ACTIVE_CONNECT: the socket connects to the address the broker named.
CBConnectOutcome connect_actively(SockInfo *info, struct in_addr ip, in_port_t port) {
    NBX_LOG(D_FULL, "\tconnecting actively to %s...\n", _ipport2str(ip, port));
    struct sockaddr_in target = _CB_sockaddr(ip, port);
    struct timeval limit = {CB_CONNECT_TIMEOUT, 0};
    if (_CB_do_connect(info->owner, reinterpret_cast<sockaddr *>(&target), sizeof target, &limit) ==
        0) {
        info->status = CONNECTED;
        return CB_CONNECTED;
    }
    if (errno == EINPROGRESS) {
        info->status = ACTIVE_CONNECTING;
        info->error = EINPROGRESS;
        return CB_CONNECT_FAILED;
    }
    return connection_failed(info, -1, NBX_ERRNO_SYSTEM);
}

// PASSIVE_CONNECT: the socket listens, the broker gets ACK on request
// (which is closed, ending the conversation), and the peer is awaited.
CBConnectOutcome connect_passively(SockInfo *info, int request, const char *text,
                                   CBConversation *conversation) {
    if (__real_listen(info->owner, CB_PASSIVE_BACKLOG) != 0) {
        return connection_failed(info, request, NBX_ERRNO_SYSTEM);
    }
    struct in_addr none = {};
    if (_CBsend(request, CB_ACK, none, 0, 0, none, 0, none, 0, 0) < 0) {
        NBX_LOG(D_BASIC, "NBX_TCP_connect: Failed to send ACK for PASSIVE_CONNECT\n");
        return connection_failed(info, request, _CB_brokerErrno(-1, errno));
    }
    __real_close(request);
    conversation->finish();
    info->status = PASSIVE_CONNECTING;
    return finish_passive(info, text);
}

// Milliseconds left of timeout since start, for poll: -1 without a limit,
// never below 0.
int remaining_ms(const struct timeval *timeout, const struct timespec &start) {
    if (timeout == nullptr) return -1;
    long long limit = static_cast<long long>(timeout->tv_sec) * 1000 + timeout->tv_usec / 1000;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long left =
        limit - ((now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000);
    if (left < 0) left = 0;
    return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
}

// The outcome of a finished connect on fd: 0, or -1 with the pending error
// in errno (logged).
int pending_connect_error(int fd) {
    int error = 0;
    socklen_t size = sizeof error;
    if (__real_getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        NBX_ERROR("_CB_do_connect: getsockopt failed");
        NBX_LOG(D_BASIC,
                "In Solaris, getsockopt returns fail with errno set appropriately if the "
                "pending connection has failed.\n");
        return -1;
    }
    if (error != 0) {
        NBX_LOG(D_BASIC, "_CB_do_connect: getsockopt reported connection failed: %s\n",
                strerror(error));
        errno = error;
        return -1;
    }
    return 0;
}

// Waits within timeout (null: no limit) for a connect in progress on fd:
// 0 connected, -1 with errno (ETIMEDOUT when the time ran out).
int await_connect(int fd, const struct timeval *timeout) {
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        struct pollfd wait = {fd, POLLIN | POLLOUT, 0};
        int ready = poll(&wait, 1, remaining_ms(timeout, start));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return -1;
        if (ready == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        return pending_connect_error(fd);
    }
}

}  // namespace

extern "C" {

int NBX_connect(int fd, const struct sockaddr *address, socklen_t length) {
    if (!_CB_initialized) _CB_initialize();
    if (fd < 0 || fd >= _NBX_max_no_fds) {
        NBX_LOG(D_BASIC, "NBX_connect: fd is too big. Returning error...\n");
        errno = EBADF;
        return fail(NBX_ERRNO_INVALID_ARGUMENT);
    }
    int type = _CB_fdInfo[fd].type;
    if (type == MANAGER) {
        NBX_LOG(D_BASIC, "NBX_connect called for MANAGER\n");
        errno = EBADF;
        return fail(NBX_ERRNO_INTERNAL_SOCKET);
    }
    if (type == NOT_DEFINED) {
        NBX_LOG(D_FULL, "connect(%d[NOT_DEFINED], ...)\n", fd);
        int result = __real_connect(fd, address, length);
        int saved = errno;
        NBX_LOG(D_FULL, "returning %d\n", result);
        _NBX_errno = result != 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
        errno = saved;
        return result;
    }
    SockInfo *info = _CB_fdInfo[fd].info;
    if (address != nullptr && address->sa_family == AF_UNSPEC) {
        return unconnect(fd, info, address, length);
    }
    if (address == nullptr || address->sa_family != AF_INET ||
        length != sizeof(struct sockaddr_in)) {
        return connect_other(fd, info, address, length);
    }
    const struct sockaddr_in *destination = reinterpret_cast<const struct sockaddr_in *>(address);
    char text[CB_ADDR_TEXT_SIZE];
    _CB_addrText(text, destination->sin_addr, destination->sin_port);
    NBX_LOG(D_FULL, "NBX_connect(%d[NBX_SOCKET], %s)\n", fd, text);
    if (type == TCP) {
        if (info->manager == NEED_RECOVER) info->manager = -1;
        if (info->manager >= 0) {
            NBX_LOG(D_FULL, "deleting manager[%d]\n", info->manager);
            _CB_rmManager(info->manager);
        }
        info->canon.port = 0;
    }
    int route = _CB_directConnect(destination->sin_addr);
    if (route < 0) {
        NBX_LOG(D_BASIC,
                "Routing table must be in a bad shape. Trying direct connection anyway...\n");
    }
    if (route == 0) {
        if (prepare_brokered(fd, info, text) != 0) return -1;
        CBConnectOutcome result = type == TCP ? connect_tcp_brokered(fd, info, destination, text)
                                              : connect_channel(fd, info, destination, text);
        if (result == CB_CONNECT_FAILED) return -1;
        if (result == CB_CONNECTED) return 0;
    }
    return connect_direct(fd, info, destination, text);
}

CBConnectOutcome NBX_TCP_connect(SockInfo *info, const struct sockaddr_in *destination) {
    char text[CB_ADDR_TEXT_SIZE];
    _CB_addrText(text, destination->sin_addr, destination->sin_port);
    CBConversation conversation;  // ends when the request connection closes
    CBConnectOutcome outcome = CB_GO_DIRECT;
    int request = send_connect(info, destination, text, &outcome);
    if (request < 0) return outcome;
    char opcode = 0;
    struct in_addr answer_ip = {};
    in_port_t answer_port = 0;
    if (!receive_answer(request, &opcode, &answer_ip, &answer_port)) return CB_CONNECT_FAILED;
    if (opcode == CB_PASSIVE_CONNECT) return connect_passively(info, request, text, &conversation);
    __real_close(request);
    conversation.finish();
    if (opcode == CB_ACTIVE_CONNECT) return connect_actively(info, answer_ip, answer_port);
    if (opcode != CB_NAK) {
        NBX_LOG(D_BASIC, "NBX_TCP_connect(%d):%s: CONNECT sent but unexpected message received\n",
                info->owner, text);
    }
    return CB_GO_DIRECT;
}

int _CB_do_connect(int fd, const struct sockaddr *address, socklen_t length,
                   struct timeval *timeout) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) {
        NBX_ERROR("_CB_do_connect: fcntl failed");
        return -1;
    }
    if ((flags & O_NONBLOCK) != 0) return __real_connect(fd, address, length);
    if (fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        NBX_ERROR("_CB_do_connect: fcntl failed");
        return -1;
    }
    int result = __real_connect(fd, address, length);
    if (result != 0 && errno == EINPROGRESS) result = await_connect(fd, timeout);
    int saved = errno;
    if (fcntl(fd, F_SETFL, flags) < 0) {
        NBX_ERROR("_CB_do_connect: fcntl failed");
        return -1;
    }
    errno = saved;
    return result;
}

}  // extern "C"
