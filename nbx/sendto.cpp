// The brokered sendto and the opening of UDP channels. A datagram to a peer
// with a known receiver goes to the receiver's physical address; otherwise
// the routing table decides whether the peer's broker is asked (INIT_COMM)
// to open a channel first. When no channel can be had the datagram is sent
// plainly to the caller's address.
#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "nbx/async_event.h"
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

#define NBX_LOG_MODULE "sendto"

namespace {

ssize_t system_sendto(int fd, const void *buffer, size_t size, int flags,
                      const struct sockaddr *address, socklen_t length) {
    ssize_t sent = __real_sendto(fd, buffer, size, flags, address, length);
    int saved = errno;
    NBX_LOG(D_FULL, "NBX_sendto() returning %d\n", static_cast<int>(sent));
    _NBX_errno = sent < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
    errno = saved;
    return sent;
}

// The destination as an AF_INET address, or null when it is none.
const struct sockaddr_in *inet_destination(const struct sockaddr *address, socklen_t length) {
    if (address == nullptr || length < sizeof(struct sockaddr_in) ||
        address->sa_family != AF_INET) {
        return nullptr;
    }
    return reinterpret_cast<const struct sockaddr_in *>(address);
}

// A datagram from a bound, unconnected socket to destination: to the
// peer's receiver when there is one, else as the routing table and the
// peer's broker decide.
ssize_t send_to_peer(int fd, SockInfo *info, const void *buffer, size_t size, int flags,
                     const struct sockaddr_in *destination, socklen_t length) {
    const struct sockaddr *address = reinterpret_cast<const sockaddr *>(destination);
    CBRcver *rcver = _CB_getRcvr(info, destination->sin_addr, destination->sin_port);
    if (rcver != nullptr) {
        struct sockaddr_in physical = _CB_sockaddr(rcver->phy.ip, rcver->phy.port);
        return system_sendto(fd, buffer, size, flags, reinterpret_cast<sockaddr *>(&physical),
                             length);
    }
    int route = _CB_directConnect(destination->sin_addr);
    if (route < 0) {
        NBX_LOG(D_BASIC,
                "Routing table must be in a bad shape. Trying direct connection anyway...\n");
    }
    if (route != 0) return system_sendto(fd, buffer, size, flags, address, length);
    struct sockaddr_in physical;
    CBConnectOutcome channel =
        _CB_openchannel(info, destination->sin_addr, destination->sin_port, &physical);
    if (channel == CB_CONNECTED) {
        return system_sendto(fd, buffer, size, flags, reinterpret_cast<sockaddr *>(&physical),
                             sizeof physical);
    }
    if (channel == CB_GO_DIRECT) return system_sendto(fd, buffer, size, flags, address, length);
    NBX_LOG(D_FULL, "NBX_sendto(): <fd = %d, to = %s>\n", fd,
            _ipport2str(destination->sin_addr, destination->sin_port));
    NBX_LOG(D_FULL, "NBX_sendto(): _CB_openchannel() failed\n");
    return -1;
}

}  // namespace

extern "C" {

ssize_t NBX_sendto(int fd, const void *buffer, size_t size, int flags,
                   const struct sockaddr *address, socklen_t length) {
    if (!_CB_initialized) _CB_initialize();
    if (fd < 0 || fd >= _NBX_max_no_fds) {
        NBX_LOG(D_BASIC, "NBX_sendto: fd is too big. Returning error...\n");
        errno = EBADF;
        _NBX_errno = NBX_ERRNO_INVALID_ARGUMENT;
        return -1;
    }
    if (_CB_now() - _CB_lastCheck > CB_POLL_INTERVAL && _CB_checkAsyncEvent() < 0) {
        NBX_ERROR("_CB_checkAsyncEvent() failed");
    }
    int type = _CB_fdInfo[fd].type;
    if (type == NOT_DEFINED) return __real_sendto(fd, buffer, size, flags, address, length);
    if (type != UDP) {
        errno = EOPNOTSUPP;
        NBX_ERROR("NBX_sendto() called for non-UDP");
        _NBX_errno = NBX_ERRNO_NOT_SUPPORTED;
        errno = EOPNOTSUPP;
        return -1;
    }
    SockInfo *info = _CB_fdInfo[fd].info;
    const struct sockaddr_in *destination = inet_destination(address, length);
    NBX_LOG(
        D_FULL, "NBX_sendto(%d[UDP, NBX], to = %s, size=%d)\n", fd,
        destination != nullptr ? _ipport2str(destination->sin_addr, destination->sin_port) : "NULL",
        static_cast<int>(size));
    if (info->status == CONNECTED) {
        NBX_LOG(D_FULL, "NBX_sendto() called for CONNECTED socket\n");
        return system_sendto(fd, buffer, size, flags, address, length);
    }
    if (info->status == CREATED) {
        struct sockaddr_in any;
        memset(&any, 0, sizeof any);
        any.sin_family = AF_INET;
        if (_CB_bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0) return -1;
    }
    if (destination == nullptr) return system_sendto(fd, buffer, size, flags, address, length);
    return send_to_peer(fd, info, buffer, size, flags, destination, length);
}

CBConnectOutcome _CB_openchannel(SockInfo *info, struct in_addr peer_ip, in_port_t peer_port,
                                 struct sockaddr_in *physical) {
    char peer[CB_ADDR_TEXT_SIZE];
    _CB_addrText(peer, peer_ip, peer_port);
    NBX_LOG(D_FULL, "<_CB_openchannel> to %s\n", peer);
    CBConversation conversation;  // over before waiting for the peer
    bool socket_failed = false;
    int request = _CB_connectDestBroker(peer_ip, &socket_failed);
    if (request < 0) {
        if (socket_failed) {
            NBX_ERROR("_CB_openchannel(%d):%s: socket failed", info->owner, peer);
            _NBX_errno = NBX_ERRNO_SYSTEM;
            return CB_CONNECT_FAILED;
        }
        NBX_ERROR("_CB_openchannel: connection to the dest broker failed");
        return CB_GO_DIRECT;
    }
    if (_CBsend(request, CB_INIT_COMM, info->canon.ip, info->canon.port, info->mode,
                info->phyAddr.ip, info->phyAddr.port, peer_ip, peer_port, 0) < 0) {
        NBX_LOG(D_BASIC, "_CB_openchannel: can't send INIT_COMM to %s\n", peer);
        _NBX_errno = _CB_brokerErrno(-1, errno);
        _CB_closeKeepingErrno(request);
        return CB_CONNECT_FAILED;
    }
    char opcode = 0;
    struct in_addr answer_ip = {};
    in_port_t answer_port = 0;
    int got = _CBrecv(request, &opcode, nullptr, nullptr, nullptr, &answer_ip, &answer_port,
                      nullptr, nullptr, nullptr);
    if (got <= 0) {
        NBX_LOG(D_BASIC, "_CB_openchannel: sent INIT_COMM to %s, but can't get response\n", peer);
        _NBX_errno = _CB_brokerErrno(got, errno);
        _CB_closeKeepingErrno(request);
        return CB_CONNECT_FAILED;
    }
    _CB_closeKeepingErrno(request);
    conversation.finish();
    if (opcode == CB_PASSIVE_INIT) {
        NBX_LOG(D_FULL, "waiting for DUMMY...\n");
        if (_CB_handleDummy(info->owner, peer_ip, peer_port, physical) != 0) {
            _NBX_errno = NBX_ERRNO_PASSIVE_SILENT;
            return CB_CONNECT_FAILED;
        }
        return CB_CONNECTED;
    }
    if (opcode == CB_ACTIVE_INIT) {
        *physical = _CB_sockaddr(answer_ip, answer_port);
        if (_CB_addRcvr(info, peer_ip, peer_port, answer_ip, answer_port) != 0) {
            NBX_LOG(D_BASIC, "_CB_openchannel: _CB_addRcvr failed\n");
            return CB_CONNECT_FAILED;
        }
        return CB_CONNECTED;
    }
    if (opcode == CB_NAK) return CB_GO_DIRECT;
    NBX_LOG(D_BASIC,
            "_CB_openchannel: sent INIT_COMM to %s, but invalid msg received from the dest "
            "Broker\n",
            peer);
    return CB_GO_DIRECT;
}

int _CB_handleDummy(int fd, struct in_addr peer_ip, in_port_t peer_port,
                    struct sockaddr_in *physical) {
    if (!_CB_inTable(fd) || _CB_fdInfo[fd].type != UDP || _CB_fdInfo[fd].info == nullptr ||
        _CB_fdInfo[fd].info->status == CONNECTED) {
        NBX_ERROR("_CB_handleDummy called for connected UDP");
        return -1;
    }
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    const long long limit = CB_DUMMY_WAIT * 1000LL;
    char *buffer = static_cast<char *>(malloc(CB_UDP_READ_SIZE));
    if (buffer == nullptr) NBX_ABORT("malloc failed");
    int result = -1;
    for (;;) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long long left = limit - ((now.tv_sec - start.tv_sec) * 1000LL +
                                  (now.tv_nsec - start.tv_nsec) / 1000000);
        if (left <= 0) {
            NBX_ERROR("_CB_handleDummy: select() timed-out");
            break;
        }
        struct pollfd wait = {fd, POLLIN, 0};
        int ready = poll(&wait, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            NBX_ERROR("_CB_handleDummy: select() failed");
            break;
        }
        if (ready == 0) {
            NBX_ERROR("_CB_handleDummy: select() timed-out");
            break;
        }
        struct sockaddr_in source;
        memset(&source, 0, sizeof source);
        socklen_t length = sizeof source;
        ssize_t got = __real_recvfrom(fd, buffer, CB_UDP_READ_SIZE, MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr *>(&source), &length);
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            NBX_ERROR("_CB_handleDummy: recvfrom failed");
            break;
        }
        struct in_addr sender_ip = {};
        in_port_t sender_port = 0;
        int kind =
            handleUDPmsg(fd, buffer, static_cast<int>(got), reinterpret_cast<sockaddr *>(&source),
                         sizeof source, &sender_ip, &sender_port);
        if (kind == CB_UDP_DUMMY_ANSWERED && sender_ip.s_addr == peer_ip.s_addr &&
            sender_port == peer_port) {
            *physical = source;
            result = 0;
            break;
        }
    }
    free(buffer);
    return result;
}

}  // extern "C"
