// Fuzz target for the broker's message handling: the broker's own framing,
// parsing and per-role handling of control connections, on a broker that
// lives in this process (its public and private address 127.0.0.1, a small
// port range) without its fixed listeners. The input is a sequence of
// connections, each "<role byte> <length byte> <bytes>": the role byte picks
// local broker, relay server or destination broker; the bytes arrive on a
// socket pair. Connections stay open until the input ends, so a
// registration made on one is seen by requests on the next. The broker's
// answers are read and must be whole messages of the layer's framing.
// Every connection and registration is closed and freed after each input;
// only the broker's empty tables stay.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "broker/broker.h"
#include "broker/broker_log.h"
#include "broker/message_frame.h"
#include "nbx/generic_log.h"
#include "nbx/wrappers.h"

const char *mySubSystem = "BROKER";

namespace {

const int kMaxConnections = 8;

bool open_broker(nbx_broker::Broker *broker) {
    broker->config.public_ip.s_addr = htonl(INADDR_LOOPBACK);
    broker->config.private_ip.s_addr = htonl(INADDR_LOOPBACK);
    broker->config.port_low = 47100;
    broker->config.port_high = 47107;
    broker->tcp_by_port =
        static_cast<nbx_broker::Registration **>(calloc(65536, sizeof(nbx_broker::Registration *)));
    broker->udp_by_port =
        static_cast<nbx_broker::Registration **>(calloc(65536, sizeof(nbx_broker::Registration *)));
    broker->epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    return broker->tcp_by_port != nullptr && broker->udp_by_port != nullptr &&
           broker->epoll_fd >= 0;
}

// A control connection of the role, fed through a socket pair; the peer
// end, or -1.
int add_connection(nbx_broker::Broker *broker, nbx_broker::Role role) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) != 0) return -1;
    nbx_broker::Control *control =
        static_cast<nbx_broker::Control *>(calloc(1, sizeof(nbx_broker::Control)));
    control->handle = nbx_broker::Handle{nbx_broker::kControlConn, pair[0], control, 0};
    control->role = role;
    nbx_broker::list_push(&broker->controls, control);
    nbx_broker::watch(broker, &control->handle, EPOLLIN);
    nbx_broker::control_ready(broker, control, EPOLLIN);  // nothing to read yet
    return pair[1];
}

nbx_broker::Control *find(nbx_broker::Broker *broker, int peer_of) {
    for (nbx_broker::Control *c = broker->controls; c != nullptr; c = c->next) {
        if (c->handle.fd == peer_of) return c;
    }
    return nullptr;
}

// Everything the broker answered must split into whole messages.
void check_answers(int peer) {
    unsigned char answers[4096];
    ssize_t n = __real_read(peer, answers, sizeof answers);
    int at = 0;
    while (n > 0 && at < n) {
        int need = 0;
        nbx_broker::FrameStatus status =
            nbx_broker::examine_frame(answers + at, static_cast<int>(n) - at, &need);
        if (status != nbx_broker::kFrameComplete) abort();
        at += need;
    }
}

}  // namespace

nbx_broker::Broker *the_broker = nullptr;

void close_all(nbx_broker::Broker *broker) {
    while (broker->controls != nullptr) nbx_broker::control_drop(broker, broker->controls, nullptr);
    while (broker->registrations != nullptr) {
        nbx_broker::registration_free(broker, broker->registrations);
    }
    nbx_broker::broker_reap(broker);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Generic_log_enabled = 0;
    nbx_broker::broker_log_open("/dev/null", 0);  // the broker's log lines are written nowhere
    the_broker = new nbx_broker::Broker();
    if (!open_broker(the_broker)) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    nbx_broker::Broker &broker = *the_broker;
    broker.now = time(nullptr);
    broker.port_cursor = broker.config.port_low;
    int peers[kMaxConnections];
    int own[kMaxConnections];
    int count = 0;
    size_t at = 0;
    while (at + 2 <= size && count < kMaxConnections) {
        nbx_broker::Role role = static_cast<nbx_broker::Role>(data[at] % 3);
        size_t length = data[at + 1];
        at += 2;
        if (length > size - at) length = size - at;
        int peer = add_connection(&broker, role);
        if (peer < 0) break;
        own[count] = broker.controls->handle.fd;
        peers[count++] = peer;
        if (length > 0 && __real_write(peer, data + at, length) != static_cast<ssize_t>(length)) {
            abort();
        }
        at += length;
        nbx_broker::Control *control = find(&broker, own[count - 1]);
        if (control != nullptr) nbx_broker::control_ready(&broker, control, EPOLLIN);
        check_answers(peer);
        nbx_broker::broker_reap(&broker);
    }
    close_all(&broker);
    for (int i = 0; i < count; ++i) __real_close(peers[i]);
    return 0;
}
