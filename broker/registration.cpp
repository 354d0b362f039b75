// Registrations of canonical addresses: the canonical port of each
// registered socket is a real socket of the broker on its public address
// (a TCP listener once the server listens, a UDP socket for datagrams), so
// a port is only handed out once the broker holds it, and clients that
// reach the canonical address without asking a broker are relayed too.
#include <arpa/inet.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "broker/broker.h"
#include "broker/broker_log.h"

namespace nbx_broker {

namespace {

bool reserved(int port) {
    return port >= kInAgentPort && port <= kDestinationPort;
}

Registration **table(Broker *broker, bool udp) {
    return udp ? broker->udp_by_port : broker->tcp_by_port;
}

// A socket bound to the public address at port; -1 with errno on failure.
int bind_canonical(Broker *broker, bool udp, int port) {
    int fd = socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    if (!udp) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr = broker->config.public_ip;
    address.sin_port = htons(static_cast<in_port_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// The port asked for, when it lies in the range and the broker can hold it.
int take_requested(Broker *broker, bool udp, int port, int *fd) {
    const BrokerConfig &c = broker->config;
    if (port < c.port_low || port > c.port_high || reserved(port) ||
        table(broker, udp)[port] != nullptr) {
        errno = EADDRINUSE;
        return -1;
    }
    *fd = bind_canonical(broker, udp, port);
    return *fd < 0 ? -1 : port;
}

// The next port of the range, in turn, that the broker can hold.
int take_any(Broker *broker, bool udp, int *fd) {
    const BrokerConfig &c = broker->config;
    int size = c.port_high - c.port_low + 1;
    for (int tried = 0; tried < size; ++tried) {
        int port = broker->port_cursor;
        broker->port_cursor = port >= c.port_high ? c.port_low : port + 1;
        if (reserved(port) || table(broker, udp)[port] != nullptr) continue;
        *fd = bind_canonical(broker, udp, port);
        if (*fd >= 0) return port;
    }
    errno = EADDRNOTAVAIL;
    return -1;
}

}  // namespace

Registration *registration_create(Broker *broker, bool udp, CBAddr requested, CBAddr physical,
                                  char mode, Control *manager) {
    int fd = -1;
    int wanted = ntohs(requested.port);
    bool again = requested.ip.s_addr == broker->config.public_ip.s_addr;
    int port = wanted != 0 ? take_requested(broker, udp, wanted, &fd) : -1;
    // A socket registering again after a restart keeps its canonical address
    // or gets none: the library does not look at a second BIND_OK's address.
    if (port < 0 && again) return nullptr;
    if (port < 0) port = take_any(broker, udp, &fd);
    if (port < 0) return nullptr;
    Registration *registration = static_cast<Registration *>(calloc(1, sizeof(Registration)));
    if (registration == nullptr) {
        close(fd);
        errno = ENOMEM;
        return nullptr;
    }
    registration->canonical = Handle{udp ? kCanonicalUdp : kCanonicalTcp, fd, registration, 0};
    registration->udp = udp;
    registration->port = port;
    registration->physical = physical;
    registration->mode = mode;
    registration->manager = manager;
    if (udp && !watch(broker, &registration->canonical, EPOLLIN)) {
        close(fd);
        free(registration);
        return nullptr;
    }
    table(broker, udp)[port] = registration;
    list_push(&broker->registrations, registration);
    return registration;
}

int registration_listen(Broker *broker, Registration *registration) {
    if (registration->listening) return 0;
    if (listen(registration->canonical.fd, 1024) != 0) return -1;
    if (!watch(broker, &registration->canonical, EPOLLIN)) return -1;
    registration->listening = true;
    return 0;
}

Registration *registration_find(Broker *broker, bool udp, CBAddr canonical) {
    if (canonical.ip.s_addr != broker->config.public_ip.s_addr) return nullptr;
    return table(broker, udp)[ntohs(canonical.port)];
}

void passive_wait(Registration *server, Control *control, CBAddr client) {
    passive_forget(control);
    control->passive_server = server;
    control->passive_client = client;
    control->passive_prev = nullptr;
    control->passive_next = server->passive_waiters;
    if (server->passive_waiters != nullptr) server->passive_waiters->passive_prev = control;
    server->passive_waiters = control;
}

void passive_forget(Control *control) {
    Registration *server = control->passive_server;
    if (server == nullptr) return;
    if (control->passive_prev != nullptr)
        control->passive_prev->passive_next = control->passive_next;
    if (control->passive_next != nullptr)
        control->passive_next->passive_prev = control->passive_prev;
    if (server->passive_waiters == control) server->passive_waiters = control->passive_next;
    control->passive_prev = control->passive_next = nullptr;
    control->passive_server = nullptr;
}

void registration_free(Broker *broker, Registration *registration) {
    broker_log("%s port %d released\n", registration->udp ? "UDP" : "TCP", registration->port);
    while (registration->passive_waiters != nullptr) passive_forget(registration->passive_waiters);
    if (registration->manager != nullptr) registration->manager->registration = nullptr;
    while (registration->pending != nullptr) relay_drop(broker, registration->pending);
    while (registration->peers != nullptr) udp_peer_close(broker, registration->peers);
    if (registration->udp || registration->listening) {
        unwatch_and_close(broker, &registration->canonical);
    } else {
        close(registration->canonical.fd);
        registration->canonical.fd = -1;
    }
    table(broker, registration->udp)[registration->port] = nullptr;
    list_remove(&broker->registrations, registration);
    registration->next = broker->dead_registrations;
    broker->dead_registrations = registration;
}

}  // namespace nbx_broker
