// Relayed TCP streams. A client that connects to a canonical port waits
// while the server is told (CONTACT) to connect to a listener of its own on
// the broker's private address; the two connections are then joined and
// the bytes moved between them with splice through a pipe per direction,
// never copied into the broker. Each direction holds at most kSpliceBytes
// in flight; a side that does not read stops the other side from being
// read. The end of one side's data is passed on as a half close.
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "broker/broker.h"
#include "broker/broker_log.h"

namespace nbx_broker {

namespace {

const CBAddr kNoAddress = {{0}, 0};
const unsigned kReadEvents = EPOLLIN | EPOLLRDHUP | EPOLLET;

// The relay's own listener on the private address; -1 on failure.
int open_wait_listener(Broker *broker, CBAddr *where) {
    int fd = open_listener(broker->config.private_ip, 0, 1);
    if (fd < 0) return -1;
    sockaddr_in bound;
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length);
    *where = CBAddr{bound.sin_addr, bound.sin_port};
    return fd;
}

void start_relay(Broker *broker, Registration *registration, int client_fd, CBAddr client) {
    if (registration->pending_count >= kMaxPendingRelays || registration->manager == nullptr) {
        close(client_fd);
        return;
    }
    CBAddr where;
    int listener = open_wait_listener(broker, &where);
    PendingRelay *relay =
        listener < 0 ? nullptr : static_cast<PendingRelay *>(calloc(1, sizeof(PendingRelay)));
    if (relay == nullptr) {
        broker_log("can't relay a client of port %d: %s\n", registration->port, strerror(errno));
        if (listener >= 0) close(listener);
        close(client_fd);
        return;
    }
    relay->listener = Handle{kRelayWait, listener, relay, 0};
    relay->client_fd = client_fd;
    relay->client = client;
    relay->registration = registration;
    relay->deadline = broker->now + kRelayWaitSeconds;
    list_push(&registration->pending, relay);
    ++registration->pending_count;
    if (!watch(broker, &relay->listener, EPOLLIN)) {
        relay_drop(broker, relay);
        return;
    }
    broker_log_full("relaying %s to port %d\n", address_text(client.ip, client.port),
                    registration->port);
    control_send(broker, registration->manager, CB_CONTACT, kNoAddress, 0, where, 0);
}

// Unlinks a pending relay; the client descriptor stays open.
void relay_forget(Broker *broker, PendingRelay *relay) {
    unwatch_and_close(broker, &relay->listener);
    Registration *registration = relay->registration;
    list_remove(&registration->pending, relay);
    --registration->pending_count;
    relay->next = broker->dead_relays;
    broker->dead_relays = relay;
}

bool make_pipe(int *read_end, int *write_end) {
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    fcntl(ends[0], F_SETPIPE_SZ, kSpliceBytes);
    *read_end = ends[0];
    *write_end = ends[1];
    return true;
}

// A peer that vanishes without a word (its host down, its packets lost)
// would hold a relayed stream for good: the kernel probes a silent
// connection and gives up on one whose probes or data go unanswered.
void keep_alive(Broker *broker, int fd) {
    int on = 1;
    int idle = broker->config.keepalive_seconds;
    int interval = idle < kKeepaliveIntervalMax ? idle : kKeepaliveIntervalMax;
    int probes = kKeepaliveProbes;
    unsigned timeout_ms = static_cast<unsigned>(idle + interval * probes) * 1000u;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout_ms, sizeof timeout_ms);
}

void start_splice(Broker *broker, int client_fd, int server_fd) {
    Splice *splice = static_cast<Splice *>(calloc(1, sizeof(Splice)));
    bool piped = splice != nullptr && make_pipe(&splice->pipe_read[0], &splice->pipe_write[0]);
    if (piped && !make_pipe(&splice->pipe_read[1], &splice->pipe_write[1])) {
        close(splice->pipe_read[0]);
        close(splice->pipe_write[0]);
        piped = false;
    }
    if (!piped) {
        broker_log("can't join a relayed stream: %s\n", strerror(errno));
        free(splice);
        close(client_fd);
        close(server_fd);
        return;
    }
    // The relay passes on whatever arrives at once: holding back a short
    // tail for an acknowledgement (Nagle) would stall each burst's end.
    int on = 1;
    setsockopt(client_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(server_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    keep_alive(broker, client_fd);
    keep_alive(broker, server_fd);
    splice->last_active = broker->now;
    splice->side[0] = Handle{kSpliceSide, client_fd, splice, 0};
    splice->side[1] = Handle{kSpliceSide, server_fd, splice, 1};
    list_push(&broker->splices, splice);
    // Edge-triggered: every wake-up moves bytes until the kernel says wait,
    // so an edge is never missed and a full pipe never spins the loop.
    splice->events[0] = splice->events[1] = kReadEvents;
    if (!watch(broker, &splice->side[0], kReadEvents) ||
        !watch(broker, &splice->side[1], kReadEvents)) {
        splice_close(broker, splice);
        return;
    }
    splice_ready(broker, splice);
}

// Moves what it can in direction d. 1 when something moved, 0 when the
// kernel says wait, -1 on an error that ends the stream.
int pump(Splice *splice, int d) {
    int moved = 0;
    int from = splice->side[d].fd;
    int to = splice->side[1 - d].fd;
    if (!splice->eof[d] && splice->pending[d] < static_cast<size_t>(kSpliceBytes)) {
        ssize_t n = ::splice(from, nullptr, splice->pipe_write[d], nullptr,
                             static_cast<size_t>(kSpliceBytes) - splice->pending[d],
                             SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n > 0) {
            splice->pending[d] += static_cast<size_t>(n);
            moved = 1;
        } else if (n == 0) {
            splice->eof[d] = true;
            moved = 1;
        } else if (errno != EAGAIN && errno != EINTR) {
            return -1;
        }
    }
    if (splice->pending[d] > 0) {
        ssize_t n = ::splice(splice->pipe_read[d], nullptr, to, nullptr, splice->pending[d],
                             SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n > 0) {
            splice->pending[d] -= static_cast<size_t>(n);
            stats_relayed(false, d, n);
            moved = 1;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return -1;
        }
    }
    if (splice->eof[d] && splice->pending[d] == 0 && !splice->shut[d]) {
        shutdown(to, SHUT_WR);
        splice->shut[d] = true;
    }
    return moved;
}

}  // namespace

void accept_relay_clients(Broker *broker, Registration *registration) {
    for (int i = 0; i < 64; ++i) {
        sockaddr_in peer;
        socklen_t length = sizeof peer;
        int fd = accept4(registration->canonical.fd, reinterpret_cast<sockaddr *>(&peer), &length,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            pause_accepting(broker, &registration->canonical);
            return;
        }
        broker->pause_said = false;
        start_relay(broker, registration, fd, CBAddr{peer.sin_addr, peer.sin_port});
        if (registration->canonical.fd < 0) return;  // the manager went away meanwhile
    }
}

void relay_server_arrived(Broker *broker, PendingRelay *relay) {
    int server_fd = accept4(relay->listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (server_fd < 0) {
        pause_accepting(broker, &relay->listener);
        return;
    }
    int client_fd = relay->client_fd;
    relay_forget(broker, relay);
    start_splice(broker, client_fd, server_fd);
}

void relay_drop(Broker *broker, PendingRelay *relay) {
    close(relay->client_fd);
    relay_forget(broker, relay);
}

void splice_ready(Broker *broker, Splice *splice) {
    if (splice->side[0].fd < 0) return;
    for (int progress = 1; progress > 0;) {
        int a = pump(splice, 0);
        int b = a < 0 ? -1 : pump(splice, 1);
        if (a < 0 || b < 0) {
            splice_close(broker, splice);
            return;
        }
        progress = a + b;
        if (progress > 0) splice->last_active = broker->now;
    }
    if (splice->shut[0] && splice->shut[1]) {
        splice_close(broker, splice);
        return;
    }
    // A side is watched for room only while bytes wait for it: writability
    // edges come with every acknowledgement and would wake the loop for
    // nothing.
    for (int d = 0; d < 2; ++d) {
        unsigned wanted = kReadEvents | (splice->pending[1 - d] > 0 ? EPOLLOUT : 0u);
        if (wanted != splice->events[d]) {
            splice->events[d] = wanted;
            rewatch(broker, &splice->side[d], wanted);
        }
    }
}

void splice_close(Broker *broker, Splice *splice) {
    for (int d = 0; d < 2; ++d) {
        unwatch_and_close(broker, &splice->side[d]);
        close(splice->pipe_read[d]);
        close(splice->pipe_write[d]);
    }
    list_remove(&broker->splices, splice);
    splice->next = broker->dead_splices;
    broker->dead_splices = splice;
}

void sweep_relays(Broker *broker, Registration *registration) {
    for (PendingRelay *relay = registration->pending; relay != nullptr;) {
        PendingRelay *next = relay->next;
        if (broker->now > relay->deadline) {
            broker_log("server of port %d never connected for %s\n", registration->port,
                       address_text(relay->client.ip, relay->client.port));
            relay_drop(broker, relay);
        }
        relay = next;
    }
}

void sweep_splices(Broker *broker) {
    int idle = broker->config.idle_seconds;
    if (idle <= 0) return;
    for (Splice *splice = broker->splices; splice != nullptr;) {
        Splice *next = splice->next;
        if (broker->now - splice->last_active >= idle) {
            broker_log("closing a relayed stream idle for %d s\n", idle);
            splice_close(broker, splice);
        }
        splice = next;
    }
}

}  // namespace nbx_broker
