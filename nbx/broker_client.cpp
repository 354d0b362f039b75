// Whole-message send and receive on broker connections, the relay-server
// lookup through the local broker, and the manager connections of
// registered sockets, all bounded in time. Reaches the system's socket calls
// directly; writes the socket table's MANAGER entries and _CB_maxfd,
// _NBX_errno, the static relay address and the running conversation's
// deadline. errno after a failure is the failing call's.
#include "nbx/broker_client.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <string.h>
#include <time.h>

#include "nbx/broker_message.h"
#include "nbx/connection.h"
#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "client_util"

int _CB_brokerTimeoutMs = CB_BROKER_TIMEOUT * 1000;

namespace {

// Monotonic deadline of the running conversation in milliseconds; 0 when
// none runs.
long long conversation_deadline = 0;

long long now_ms() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// When the step starting now must be over.
long long step_deadline() {
    return conversation_deadline != 0 ? conversation_deadline : now_ms() + _CB_brokerTimeoutMs;
}

// Waits until fd is ready for events: 1 ready (or in error, which the next
// call reports), 0 with errno ETIMEDOUT when the deadline passed first, -1
// when poll fails.
int wait_until(int fd, short events, long long deadline) {
    if (fd < 0) return 1;  // poll would skip it; the call itself says EBADF
    for (;;) {
        long long left = deadline - now_ms();
        if (left < 0) left = 0;
        struct pollfd wait = {fd, events, 0};
        int ready = poll(&wait, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (ready > 0) return 1;
        if (ready == 0) {
            errno = ETIMEDOUT;
            return 0;
        }
        if (errno != EINTR) return -1;
    }
}

// Reads exactly size bytes before the deadline. 1 when all arrived, 0 at
// end of file before that, -1 on a read error other than EINTR or when
// time ran out (ETIMEDOUT).
int read_fully(int fd, unsigned char *buffer, size_t size, long long deadline) {
    size_t done = 0;
    while (done < size) {
        if (wait_until(fd, POLLIN, deadline) <= 0) return -1;
        ssize_t n = __real_read(fd, buffer + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0) {
            return 0;
        } else if (errno != EINTR) {
            return -1;
        }
    }
    return 1;
}

// Whether a failed connect means the peer cannot be reached at all.
bool unreachable(int error) {
    return error == ENETUNREACH || error == ETIMEDOUT || error == ECONNREFUSED;
}

// The outcome of a non-blocking connect on fd, awaited until the deadline:
// 0 connected, -1 with errno.
int finish_connect(int fd, long long deadline) {
    if (wait_until(fd, POLLOUT, deadline) <= 0) return -1;
    int error = 0;
    socklen_t size = sizeof error;
    if (__real_getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return -1;
    if (error != 0) {
        errno = error;
        return -1;
    }
    return 0;
}

// NEW_SOCK on fd and its answer; fills relay and returns 0, or logs, sets
// _NBX_errno and returns -1.
int ask_for_relay(int fd, sockaddr_in *relay) {
    in_addr none = {};
    if (_CBsend(fd, CB_NEW_SOCK, none, 0, 0, none, 0, none, 0, 0) < 0) {
        int error = errno;
        NBX_ERROR("getRelayServer: can't send NEW_SOCK to the broker: _CBsend(%d) failed", fd);
        _NBX_errno = _CB_brokerErrno(-1, error);
        return -1;
    }
    char opcode = 0;
    in_addr ip = {};
    in_port_t port = 0;
    int size =
        _CBrecv(fd, &opcode, nullptr, nullptr, nullptr, &ip, &port, nullptr, nullptr, nullptr);
    if (size <= 0) {
        int error = errno;
        NBX_ERROR("getRelayServer: can't receive reponse from the Broker: _CBrecv(%d) failed", fd);
        _NBX_errno = _CB_brokerErrno(size, error);
        return -1;
    }
    if (opcode != CB_RELAY_SERVER) {
        NBX_ERROR("getRelayServer: invalid response (%c) from the Broker", opcode);
        _NBX_errno = NBX_ERRNO_BAD_MESSAGE_TYPE;
        return -1;
    }
    memset(relay, 0, sizeof *relay);
    relay->sin_family = AF_INET;
    relay->sin_addr = ip;
    relay->sin_port = port;
    return 0;
}

}  // namespace

CBConversation::CBConversation() : outermost_(conversation_deadline == 0) {
    if (outermost_) conversation_deadline = now_ms() + _CB_brokerTimeoutMs;
}

void CBConversation::finish() {
    if (outermost_) conversation_deadline = 0;
    outermost_ = false;
}

extern "C" {

void _CB_closeKeepingErrno(int fd) {
    int saved = errno;
    __real_close(fd);
    errno = saved;
}

int _CB_brokerErrno(int result, int error) {
    if (result == 0 || error == EPIPE || error == ETIMEDOUT) return NBX_ERRNO_NO_BROKER;
    return NBX_ERRNO_SYSTEM;
}

int _CB_connectBroker(const struct sockaddr_in *address, bool inherit, bool *socket_failed) {
    int fd = __real_socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | (inherit ? 0 : SOCK_CLOEXEC), 0);
    *socket_failed = fd < 0;
    if (fd < 0) return -1;
    long long deadline = step_deadline();
    int result = __real_connect(fd, reinterpret_cast<const sockaddr *>(address), sizeof *address);
    if (result != 0 && errno == EINPROGRESS) result = finish_connect(fd, deadline);
    // Callers expect a blocking connection, as the next program does when a
    // manager connection is handed over.
    int flags = fcntl(fd, F_GETFL);
    if (result == 0) result = flags < 0 ? -1 : fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (result != 0) {
        _CB_closeKeepingErrno(fd);
        return -1;
    }
    return fd;
}

int _CB_connectDestBroker(struct in_addr ip, bool *socket_failed) {
    struct sockaddr_in broker = _CB_sockaddr(ip, htons(CB_DEST_BROKER_PORT));
    return _CB_connectBroker(&broker, false, socket_failed);
}

int _CBsend(int fd, char opcode, struct in_addr canon_ip, in_port_t canon_port, char mode,
            struct in_addr phy_ip, in_port_t phy_port, struct in_addr dest_ip, in_port_t dest_port,
            unsigned char error) {
    char message[CB_MSG_MAX];
    int size = _CB_stripeMsg(message, opcode, canon_ip, canon_port, mode, phy_ip, phy_port, dest_ip,
                             dest_port, error);
    long long deadline = step_deadline();
    int done = 0;
    while (done < size) {
        ssize_t n = -1;
        if (wait_until(fd, POLLOUT, deadline) > 0) {
            n = __real_write(fd, message + done, static_cast<size_t>(size - done));
        }
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;  // no progress and no reason: never loop on it
        int saved = errno;
        NBX_LOG(D_BASIC, "_CBsend: write error - %s\n", strerror(saved));
        errno = saved;
        return -1;
    }
    return size;
}

int _CBrecv(int fd, char *opcode, struct in_addr *canon_ip, in_port_t *canon_port, char *mode,
            struct in_addr *phy_ip, in_port_t *phy_port, struct in_addr *dest_ip,
            in_port_t *dest_port, unsigned char *error) {
    unsigned char message[CB_MSG_MAX];
    long long deadline = step_deadline();
    int got = read_fully(fd, message, 2, deadline);
    if (got <= 0) return got;
    int size = (message[0] << 8) | message[1];
    // Bytes that are no message fail with EPROTO: errno would otherwise still
    // hold whatever an earlier call left, EINPROGRESS from the connection to
    // the broker for one, which callers take for a connection on its way.
    if (size > CB_MSG_MAX) {
        NBX_LOG(D_BASIC, "_CBCrecv: too big msg. size=%d received\n", size);
        errno = EPROTO;
        return -1;
    }
    // A size below the header would have no opcode to read.
    if (size < CB_MSG_HEADER) {
        NBX_LOG(D_BASIC, "_CBrecv: too small msg. size=%d received\n", size);
        errno = EPROTO;
        return -1;
    }
    got = read_fully(fd, message + 2, static_cast<size_t>(size - 2), deadline);
    if (got <= 0) return got;
    if (_CB_unstripeMsg(size, reinterpret_cast<const char *>(message), opcode, canon_ip, canon_port,
                        mode, phy_ip, phy_port, dest_ip, dest_port, error) != 0) {
        NBX_LOG(D_BASIC, "_CBrecv: _CB_unstripeMsg failed\n");
        errno = EPROTO;
        return -1;
    }
    return size;
}

struct sockaddr_in *getRelayServer(void) {
    static sockaddr_in relay;
    sockaddr_in *broker = getBroker();
    if (broker == nullptr) return nullptr;
    CBConversation conversation;
    bool socket_failed = false;
    int fd = _CB_connectBroker(broker, false, &socket_failed);
    if (fd < 0) {
        int error = errno;
        if (socket_failed) {
            NBX_ERROR("getRelayServer: socket() failed");
            _NBX_errno = NBX_ERRNO_SYSTEM;
        } else {
            NBX_ERROR("getRelayServer: can't connect to the Broker");
            _NBX_errno = unreachable(error) ? NBX_ERRNO_NO_BROKER : NBX_ERRNO_SYSTEM;
        }
        errno = error;
        return nullptr;
    }
    sockaddr_in answer;
    int result = ask_for_relay(fd, &answer);
    _CB_closeKeepingErrno(fd);
    if (result != 0) return nullptr;
    relay = answer;
    return &relay;
}

int _CB_newManager(SockInfo *record) {
    if (!_CB_initialized) _CB_initialize();
    CBConversation conversation;  // the lookup and the relay share one bound
    sockaddr_in *found = getRelayServer();
    if (found == nullptr) {
        NBX_ERROR("_CB_newManager: getRelayServer() failed");
        return -1;
    }
    sockaddr_in relay = *found;
    bool socket_failed = false;
    int fd = _CB_connectBroker(&relay, true, &socket_failed);
    if (fd < 0) {
        int error = errno;
        if (socket_failed) {
            NBX_ERROR("_CB_newManager: socket() failed");
            _NBX_errno = NBX_ERRNO_SYSTEM;
        } else {
            NBX_ERROR("_CB_newManager: can't connect to the RelayServer");
            if (unreachable(error)) _NBX_errno = NBX_ERRNO_NO_BROKER;
        }
        errno = error;
        return -1;
    }
    // A descriptor the table has no entry for could never be found again.
    if (!_CB_inTable(fd)) {
        errno = EMFILE;
        NBX_ERROR("_CB_newManager: descriptor %d is beyond the socket table", fd);
        __real_close(fd);
        errno = EMFILE;
        _NBX_errno = NBX_ERRNO_SYSTEM;
        return -1;
    }
    record->manager = fd;
    _CB_fdInfo[fd].type = MANAGER;
    _CB_fdInfo[fd].info = record;
    _CB_raisemaxfd(fd);
    return fd;
}

int _CB_rmManager(int fd) {
    if (_CB_inTable(fd)) {
        SockInfo *record = _CB_fdInfo[fd].info;
        _CB_fdInfo[fd].info = nullptr;
        if (record != nullptr) record->manager = -1;
        _CB_fdInfo[fd].type = NOT_DEFINED;
        if (fd == _CB_maxfd - 1) _CB_setmaxfd(fd);
    }
    return __real_close(fd);
}

}  // extern "C"
