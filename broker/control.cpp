// Control connections: the short requests to the local and destination
// brokers and the long-lived manager connections to the relay server.
// Bytes are gathered into one message at a time (at most CB_MSG_MAX bytes);
// answers wait in a small outbound buffer. A peer that sends what can
// never be a message, leaves a message unfinished, or does not read its
// answers is dropped with a log line.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "broker/broker.h"
#include "broker/broker_log.h"
#include "broker/message_frame.h"

namespace nbx_broker {

namespace {

const char *role_name(Role role) {
    switch (role) {
        case kRoleInAgent:
            return "local broker";
        case kRoleManager:
            return "relay server";
        case kRoleDestination:
            return "destination broker";
    }
    return "?";
}

Role role_of(HandleKind kind) {
    if (kind == kListenInAgent) return kRoleInAgent;
    if (kind == kListenRelayServer) return kRoleManager;
    return kRoleDestination;
}

// A manager with its registration may stay idle as long as it likes; every
// other connection has to finish its business within the stall limit.
void refresh_deadline(Broker *broker, Control *control) {
    bool may_idle = control->role == kRoleManager && control->registration != nullptr &&
                    control->in_length == 0 && control->out_length == 0;
    if (may_idle) {
        control->deadline = 0;
    } else if (control->deadline == 0 || control->in_length == 0) {
        control->deadline = broker->now + broker->config.stall_seconds;
    }
}

unsigned wanted_events(const Control *control) {
    return EPOLLIN | EPOLLRDHUP | (control->out_length > 0 ? EPOLLOUT : 0u);
}

// Sends what waits in the outbound buffer; false after dropping the
// connection on a write error.
bool flush(Broker *broker, Control *control) {
    while (control->out_length > 0) {
        ssize_t n = send(control->handle.fd, control->out, static_cast<size_t>(control->out_length),
                         MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) {
            control_drop(broker, control, "write failed");
            return false;
        }
        memmove(control->out, control->out + n, static_cast<size_t>(control->out_length - n));
        control->out_length -= static_cast<int>(n);
    }
    if (control->out_length == 0 && control->close_when_flushed) {
        control_drop(broker, control, nullptr);
        return false;
    }
    return true;
}

// Reads and handles whole messages until the socket has no more; false
// when the connection is gone.
bool read_messages(Broker *broker, Control *control) {
    for (;;) {
        int need = 0;
        FrameStatus status = examine_frame(control->in, control->in_length, &need);
        if (status == kFrameMalformed) {
            control_drop(broker, control, "garbage received");
            return false;
        }
        if (status == kFrameComplete) {
            control->in_length = 0;
            handle_message(broker, control, control->in, need);
            if (control->handle.fd < 0) return false;
            continue;
        }
        ssize_t n = recv(control->handle.fd, control->in + control->in_length,
                         static_cast<size_t>(need - control->in_length), MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) {
            control_drop(broker, control,
                         control->in_length > 0 ? "closed in the middle of a message" : nullptr);
            return false;
        }
        control->in_length += static_cast<int>(n);
    }
}

}  // namespace

void accept_controls(Broker *broker, Handle *listener) {
    for (;;) {
        sockaddr_in peer;
        socklen_t length = sizeof peer;
        int fd = accept4(listener->fd, reinterpret_cast<sockaddr *>(&peer), &length,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            pause_accepting(broker, listener);
            return;
        }
        broker->pause_said = false;
        Control *control = static_cast<Control *>(calloc(1, sizeof(Control)));
        if (control == nullptr) {
            close(fd);
            continue;
        }
        control->handle = Handle{kControlConn, fd, control, 0};
        control->role = role_of(listener->kind);
        control->peer = CBAddr{peer.sin_addr, peer.sin_port};
        refresh_deadline(broker, control);
        list_push(&broker->controls, control);
        if (!watch(broker, &control->handle, EPOLLIN | EPOLLRDHUP)) {
            control_drop(broker, control, "epoll refused it");
        }
    }
}

void control_ready(Broker *broker, Control *control, unsigned events) {
    if ((events & EPOLLOUT) != 0 && !flush(broker, control)) return;
    if ((events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0 &&
        !read_messages(broker, control)) {
        return;
    }
    refresh_deadline(broker, control);
    rewatch(broker, &control->handle, wanted_events(control));
}

bool control_send(Broker *broker, Control *control, char opcode, CBAddr canon, char mode,
                  CBAddr physical, unsigned char error) {
    if (control->handle.fd < 0) return false;
    char message[CB_MSG_MAX];
    int size = _CB_stripeMsg(message, opcode, canon.ip, canon.port, mode, physical.ip,
                             physical.port, in_addr{}, 0, error);
    if (control->out_length + size > kControlOutMax) {
        control_drop(broker, control, "stalled: its answers are not read");
        return false;
    }
    memcpy(control->out + control->out_length, message, static_cast<size_t>(size));
    control->out_length += size;
    if (!flush(broker, control)) return false;
    refresh_deadline(broker, control);
    rewatch(broker, &control->handle, wanted_events(control));
    return true;
}

void control_drop(Broker *broker, Control *control, const char *why) {
    if (why != nullptr) {
        stats_dropped(control->role, why);
        broker_log("dropping %s connection from %s: %s\n", role_name(control->role),
                   address_text(control->peer.ip, control->peer.port), why);
    }
    passive_forget(control);
    if (control->registration != nullptr) {
        Registration *registration = control->registration;
        control->registration = nullptr;
        registration->manager = nullptr;
        registration_free(broker, registration);
    }
    unwatch_and_close(broker, &control->handle);
    list_remove(&broker->controls, control);
    control->next = broker->dead_controls;
    broker->dead_controls = control;
}

void sweep_controls(Broker *broker) {
    for (Control *control = broker->controls; control != nullptr;) {
        Control *next = control->next;
        if (control->deadline != 0 && broker->now > control->deadline) {
            control_drop(broker, control, "stalled");
        }
        control = next;
    }
}

}  // namespace nbx_broker
