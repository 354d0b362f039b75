// The broker's single thread: opening the fixed listeners, the epoll loop
// that hands every ready descriptor to its owner, the once-a-second sweep
// for stalled peers and idle relays, freeing what closed during a batch,
// the signals (SIGTERM or SIGINT: orderly shutdown; SIGHUP: reopen the log;
// SIGUSR1: status lines), all read from a signal descriptor.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "broker/broker.h"
#include "broker/broker_log.h"

namespace nbx_broker {

namespace {

const int kBatch = 256;
const int kTickMilliseconds = 1000;

int open_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
    return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

void signals_ready(Broker *broker, int fd) {
    signalfd_siginfo info;
    while (read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGHUP) {
            broker_reopen_log(broker);
        } else if (info.ssi_signo == SIGUSR1) {
            broker_log_status(broker);
        } else {
            broker->stopping = true;
        }
    }
}

void dispatch(Broker *broker, Handle *handle, unsigned events) {
    if (handle->fd < 0) return;  // closed earlier in this batch
    switch (handle->kind) {
        case kListenInAgent:
        case kListenRelayServer:
        case kListenDestination:
            accept_controls(broker, handle);
            break;
        case kSignals:
            signals_ready(broker, handle->fd);
            break;
        case kControlConn:
            control_ready(broker, static_cast<Control *>(handle->object), events);
            break;
        case kCanonicalTcp:
            accept_relay_clients(broker, static_cast<Registration *>(handle->object));
            break;
        case kCanonicalUdp:
            udp_from_clients(broker, static_cast<Registration *>(handle->object));
            break;
        case kRelayWait:
            relay_server_arrived(broker, static_cast<PendingRelay *>(handle->object));
            break;
        case kSpliceSide:
            splice_ready(broker, static_cast<Splice *>(handle->object));
            break;
        case kUdpPeerSocket:
            udp_from_server(broker, static_cast<UdpPeer *>(handle->object));
            break;
    }
}

template <class T>
void free_list(T **head) {
    while (*head != nullptr) {
        T *next = (*head)->next;
        free(*head);
        *head = next;
    }
}

}  // namespace

void broker_reap(Broker *broker) {
    free_list(&broker->dead_controls);
    free_list(&broker->dead_relays);
    free_list(&broker->dead_splices);
    free_list(&broker->dead_peers);
    free_list(&broker->dead_registrations);
}

namespace {

void sweep(Broker *broker) {
    broker_log_tick();
    sweep_controls(broker);
    sweep_splices(broker);
    for (Registration *r = broker->registrations; r != nullptr;) {
        Registration *next = r->next;
        sweep_relays(broker, r);
        sweep_udp_peers(broker, r);
        r = next;
    }
}

bool open_fixed(Broker *broker, Handle *handle, HandleKind kind, in_addr ip, int port) {
    *handle = Handle{kind, open_listener(ip, port, 128), nullptr, 0};
    if (handle->fd < 0) {
        fprintf(stderr, "nbx_broker: can't listen on %s: %s\n", address_text(ip, htons(port)),
                strerror(errno));
        return false;
    }
    return watch(broker, handle, EPOLLIN);
}

}  // namespace

void broker_close(Broker *broker) {
    while (broker->controls != nullptr) control_drop(broker, broker->controls, nullptr);
    while (broker->registrations != nullptr) registration_free(broker, broker->registrations);
    while (broker->splices != nullptr) splice_close(broker, broker->splices);
    for (Handle &listener : broker->listeners) unwatch_and_close(broker, &listener);
    unwatch_and_close(broker, &broker->signals);
    broker_reap(broker);
    if (broker->epoll_fd >= 0) close(broker->epoll_fd);
    broker->epoll_fd = -1;
    free(broker->tcp_by_port);
    free(broker->udp_by_port);
    broker->tcp_by_port = broker->udp_by_port = nullptr;
}

const char *address_text(in_addr ip, in_port_t port) {
    static char text[32];
    char dotted[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &ip, dotted, sizeof dotted);
    snprintf(text, sizeof text, "<%s:%d>", dotted, ntohs(port));
    return text;
}

int open_listener(in_addr ip, int port, int backlog) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr = ip;
    address.sin_port = htons(static_cast<in_port_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(fd, backlog) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

bool watch(Broker *broker, Handle *handle, unsigned events) {
    epoll_event event;
    event.events = events;
    event.data.ptr = handle;
    return epoll_ctl(broker->epoll_fd, EPOLL_CTL_ADD, handle->fd, &event) == 0;
}

void rewatch(Broker *broker, Handle *handle, unsigned events) {
    epoll_event event;
    event.events = events;
    event.data.ptr = handle;
    epoll_ctl(broker->epoll_fd, EPOLL_CTL_MOD, handle->fd, &event);
}

void unwatch_and_close(Broker *broker, Handle *handle) {
    if (handle->fd < 0) return;
    epoll_ctl(broker->epoll_fd, EPOLL_CTL_DEL, handle->fd, nullptr);
    close(handle->fd);
    handle->fd = -1;
    ++broker->closes;
}

bool pause_accepting(Broker *broker, Handle *listener) {
    if (errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM) return false;
    if (!listener->paused) {
        rewatch(broker, listener, 0);
        listener->paused = true;
    }
    if (!broker->pause_said) {
        broker_log("out of descriptors (%s): no new connections until one is free\n",
                   strerror(errno));
        broker->pause_said = true;
    }
    broker->accept_paused = true;
    broker->closes_seen = broker->closes;
    return true;
}

namespace {

void resume(Broker *broker, Handle *listener) {
    if (!listener->paused || listener->fd < 0) return;
    listener->paused = false;
    rewatch(broker, listener, EPOLLIN);
}

}  // namespace

void resume_accepting(Broker *broker) {
    broker->accept_paused = false;
    for (Handle &listener : broker->listeners) resume(broker, &listener);
    for (Registration *r = broker->registrations; r != nullptr; r = r->next) {
        if (!r->udp && r->listening) resume(broker, &r->canonical);
        for (PendingRelay *relay = r->pending; relay != nullptr; relay = relay->next) {
            resume(broker, &relay->listener);
        }
    }
}

int broker_open(Broker *broker) {
    broker->tcp_by_port = static_cast<Registration **>(calloc(65536, sizeof(Registration *)));
    broker->udp_by_port = static_cast<Registration **>(calloc(65536, sizeof(Registration *)));
    broker->epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    if (broker->tcp_by_port == nullptr || broker->udp_by_port == nullptr || broker->epoll_fd < 0) {
        fprintf(stderr, "nbx_broker: can't set up the event loop: %s\n", strerror(errno));
        return -1;
    }
    broker->port_cursor = broker->config.port_low;
    broker->signals = Handle{kSignals, open_signals(), nullptr, 0};
    if (broker->signals.fd < 0 || !watch(broker, &broker->signals, EPOLLIN)) {
        fprintf(stderr, "nbx_broker: can't watch for signals: %s\n", strerror(errno));
        return -1;
    }
    const BrokerConfig &c = broker->config;
    if (!open_fixed(broker, &broker->listeners[0], kListenInAgent, c.private_ip, kInAgentPort) ||
        !open_fixed(broker, &broker->listeners[1], kListenRelayServer, c.private_ip,
                    kRelayServerPort) ||
        !open_fixed(broker, &broker->listeners[2], kListenDestination, c.public_ip,
                    kDestinationPort)) {
        return -1;
    }
    return 0;
}

void broker_tick(Broker *broker) {
    broker->now = broker_clock_now();
    if (broker->now != broker->last_sweep) {
        sweep(broker);
        broker->last_sweep = broker->now;
    }
}

int broker_run(Broker *broker) {
    epoll_event events[kBatch];
    broker->now = broker->last_sweep = broker_clock_now();
    while (!broker->stopping) {
        int ready = epoll_wait(broker->epoll_fd, events, kBatch, kTickMilliseconds);
        if (ready < 0 && errno != EINTR) {
            broker_log("epoll_wait failed: %s\n", strerror(errno));
            break;
        }
        broker->now = broker_clock_now();
        for (int i = 0; i < ready; ++i) {
            dispatch(broker, static_cast<Handle *>(events[i].data.ptr), events[i].events);
        }
        bool second_passed = broker->now != broker->last_sweep;
        broker_tick(broker);
        if (broker->accept_paused && (broker->closes != broker->closes_seen || second_passed)) {
            resume_accepting(broker);
        }
        broker_reap(broker);
    }
    broker_log("nbx_broker stopping\n");
    broker_close(broker);
    return 0;
}

}  // namespace nbx_broker
