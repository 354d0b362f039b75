// The handlers the layer's selects run for ready descriptors: dispatching by
// descriptor kind and status, accepting connections for listening sockets,
// completing passive and non-blocking connects, failing passive connects
// that waited too long, and the one-pass poll for callers that do not
// select. Broker commands are handled in ex_cmd, UDP datagrams in
// udp_message.
#include "nbx/async_event.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <time.h>

#include "nbx/connection.h"
#include "nbx/generic_log.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/udp_channel.h"
#include "nbx/wrappers.h"
#include "net/nbx_address.h"

#define NBX_LOG_MODULE "async_event"

namespace {

bool in_set(int fd, const fd_set *set) {
    return set != nullptr && FD_ISSET(fd, set);
}

// A passive connect older than the limit fails with ETIMEDOUT.
void expire_passive(SockInfo *info, time_t now) {
    if (info->status == PASSIVE_CONNECTING && now - info->pendingSince > CB_PASSIVE_LIMIT) {
        info->status = CONN_FAILED;
        info->error = ETIMEDOUT;
    }
}

// The handler of one ready descriptor.
void handle_one(int fd, fd_set *read_result, fd_set *write_result) {
    bool readable = in_set(fd, read_result);
    FdInfo &entry = _CB_fdInfo[fd];
    SockInfo *info = entry.info;
    if (info == nullptr) return;
    if (entry.type == UDP && info->owner == fd) {
        // Only a readable socket has a datagram; reading otherwise would fail.
        if (readable && handleFDasyncMsg(fd) < 0) {
            NBX_ERROR("_CB_handleAsyncEvent: handleFDasyncMsg(%d) failed", fd);
        }
    } else if (entry.type == TCP && info->owner == fd) {
        if (info->status == LISTENING && readable) {
            handleListeners(info);
        } else if (info->status == PASSIVE_CONNECTING && readable) {
            handleBlkConns(info);
        } else if (info->status == ACTIVE_CONNECTING) {
            handleActiveBlkedConn(info);
        }
    } else if (entry.type == MANAGER && readable) {
        if (handleNBXcommand(fd) < 0) {
            NBX_ERROR("_CB_handleAsyncEvent: handleNBXcommand(%d) failed", fd);
            if (read_result != nullptr) FD_CLR(fd, read_result);
            if (write_result != nullptr) FD_CLR(fd, write_result);
        }
    }
}

}  // namespace

extern "C" {

void _CB_handleAsyncEvent(int count, fd_set *read_result, fd_set *write_result) {
    char read_text[64];
    snprintf(read_text, sizeof read_text, "%s", _prtfds(count, read_result));
    NBX_LOG(D_FULL, "_CB_handleAsyncEvent(rd=%s, wr=%s)\n", read_text,
            _prtfds(count, write_result));
    if (count > FD_SETSIZE) count = FD_SETSIZE;
    time_t now = _CB_now();
    for (int fd = 0; fd < count && _CB_inTable(fd); ++fd) {
        if (!in_set(fd, read_result)) {
            FdInfo &entry = _CB_fdInfo[fd];
            if (entry.type == TCP && entry.info != nullptr) expire_passive(entry.info, now);
            if (!in_set(fd, write_result)) continue;
        }
        handle_one(fd, read_result, write_result);
    }
}

int _CB_checkAsyncEvent(void) {
    time_t now = _CB_now();
    if (now - _CB_lastCheck <= CB_POLL_INTERVAL) return 0;
    if (_Broker_down_since != 0) _CB_recoverNBXsockets();
    if (now - _CB_lastHeartBeat > CB_HEARTBEAT_INTERVAL) {
        _CB_triggerHeartBeat(now);
        _CB_lastHeartBeat = now;
    }
    fd_set rd, wr;
    FD_ZERO(&rd);
    FD_ZERO(&wr);
    int count = 0;
    _CB_addFDs(&count, &rd, &wr);
    // Both sets are polled: a connect in progress must not be taken for done.
    struct timeval zero = {0, 0};
    int ready = __real_select(count, &rd, &wr, nullptr, &zero);
    if (ready < 0) {
        NBX_ERROR("_CB_checkAsyncEvent: select() failed");
        return -1;
    }
    if (ready > 0) _CB_handleAsyncEvent(count, &rd, &wr);
    _CB_lastCheck = now;
    return 0;
}

void _CB_queueConn(SockInfo *info, int fd, struct in_addr ip, in_port_t port) {
    CBConn *conn = static_cast<CBConn *>(calloc(1, sizeof(CBConn)));
    if (conn == nullptr) NBX_ABORT("malloc failed");
    conn->fd = fd;
    conn->ip = ip;
    conn->port = port;
    if (info->conn_q_tail == nullptr) {
        info->conn_q_head = conn;
    } else {
        info->conn_q_tail->next = conn;
    }
    info->conn_q_tail = conn;
}

int handleListeners(SockInfo *info) {
    struct sockaddr_in peer;
    socklen_t length = sizeof peer;
    memset(&peer, 0, sizeof peer);
    int fd = __real_accept(info->owner, reinterpret_cast<sockaddr *>(&peer), &length);
    char canon[CB_ADDR_TEXT_SIZE];
    _CB_addrText(canon, info->canon.ip, info->canon.port);
    if (fd < 0) {
        NBX_ERROR("handleListeners: fd(%d) for %s is ready, but accept() failed", info->owner,
                  canon);
        return -1;
    }
    _CB_queueConn(info, fd, peer.sin_addr, peer.sin_port);
    NBX_LOG(D_FULL, "handleListeners: %s(fd=%d) connection accepted from: %s(newfd=%d)\n", canon,
            info->owner, _ipport2str(peer.sin_addr, peer.sin_port), fd);
    return 0;
}

int handleBlkConns(SockInfo *info) {
    struct sockaddr_in peer;
    socklen_t length = sizeof peer;
    memset(&peer, 0, sizeof peer);
    int fd = __real_accept(info->owner, reinterpret_cast<sockaddr *>(&peer), &length);
    if (fd < 0) {
        if (errno == EAGAIN) return 0;
        int saved = errno;
        NBX_ERROR("handlePassiveBlkedConn(%d): accept failed", info->owner);
        info->status = CONN_FAILED;
        info->error = saved;
        return -1;
    }
    char from[CB_ADDR_TEXT_SIZE];
    _CB_addrText(from, peer.sin_addr, peer.sin_port);
    if (_CB_replaceFD(info->owner, fd) != 0) {
        int saved = errno;
        NBX_ERROR("handlePassiveBlkedConn(%d): connection accepted from %sbut _CB_replaceFD failed",
                  info->owner, from);
        info->status = CONN_FAILED;
        info->error = saved;
        return -1;
    }
    info->status = CONNECTED;
    NBX_LOG(D_FULL, "handleBlkConns: %s connection established from: %s\n",
            _ipport2str(info->canon.ip, info->canon.port), from);
    return 0;
}

int handleActiveBlkedConn(SockInfo *info) {
    int error = 0;
    socklen_t length = sizeof error;
    int fd = info->owner;
    if (__real_getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        info->status = CONN_FAILED;
        info->error = errno;
        NBX_ERROR("handleActiveBlkedConn(%d): setting status=CONN_FAILED: getsockopt() failed", fd);
        return -1;
    }
    if (error == EINPROGRESS) return 0;
    if (error != 0) {
        info->error = error;
        info->status = CONN_FAILED;
        NBX_ERROR("handleActiveBlkedConn(%d): setting status=CONN_FAILED, error %d %s", fd, error,
                  strerror(error));
        return 0;
    }
    info->status = CONNECTED;
    info->error = 0;
    NBX_LOG(D_FULL, "handleActiveBlkedConn(%d): no error, status = CONNECTED\n", fd);
    return 0;
}

}  // extern "C"
