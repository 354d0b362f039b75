// The broker's state: its listening sockets, the control connections of
// the three roles (local broker, relay server, destination broker), the
// registrations of canonical addresses, and the relayed TCP streams and UDP
// peers. One thread drives everything through one epoll set; every socket
// is non-blocking and every per-connection buffer has a fixed bound.
//
// Objects that close during one batch of epoll events are only unlinked
// and marked (their handle's fd becomes -1); they are freed after the
// batch, so a later event of the same batch never touches freed memory.
#ifndef TORVEL_BROKER_BROKER_H_
#define TORVEL_BROKER_BROKER_H_

#include <netinet/in.h>
#include <stddef.h>
#include <time.h>

#include "broker/broker_clock.h"
#include "broker/broker_config.h"
#include "nbx/broker_message.h"
#include "nbx/sock_table.h"

namespace nbx_broker {

// Bytes a control connection may have waiting to be sent; a peer that lets
// more pile up has stalled and is dropped.
const int kControlOutMax = 512;
// Relay connections waiting for their server, per registration.
const int kMaxPendingRelays = 4096;
// UDP peers relayed per registration; the least recently heard is dropped
// to make room.
const int kMaxUdpPeers = 256;
// Seconds a relayed UDP peer lives without traffic.
const int kUdpPeerIdleSeconds = 120;
// Seconds a relay waits for its server to connect in.
const int kRelayWaitSeconds = 30;
// Keepalive probes of a relayed stream's sides, and their longest interval.
const int kKeepaliveProbes = 4;
const int kKeepaliveIntervalMax = 75;
// Bytes in flight per direction of a relayed stream (the pipe's size).
const int kSpliceBytes = 256 * 1024;

enum HandleKind {
    kListenInAgent,
    kListenRelayServer,
    kListenDestination,
    kSignals,
    kControlConn,
    kCanonicalTcp,
    kCanonicalUdp,
    kRelayWait,
    kSpliceSide,
    kUdpPeerSocket,
};

// What an epoll event points at. fd is -1 once the owner has closed.
struct Handle {
    HandleKind kind;
    int fd;
    void *object;
    int side;             // which end of a relayed stream
    bool paused = false;  // a listener left unwatched while descriptors run out
};

struct Registration;

enum Role { kRoleInAgent, kRoleManager, kRoleDestination };

struct Control {
    Handle handle;
    Role role;
    CBAddr peer;
    unsigned char in[CB_MSG_MAX];
    int in_length;
    unsigned char out[kControlOutMax];
    int out_length;
    time_t deadline;  // 0: may stay idle
    bool close_when_flushed;
    Registration *registration;    // a manager's registration
    Registration *passive_server;  // a destination request waiting for ACK
    CBAddr passive_client;
    Control *passive_prev, *passive_next;  // the server's other waiting requests
    Control *prev, *next;
};

// A client connection accepted on a canonical port, waiting for the server
// to connect to the listener the CONTACT named.
struct PendingRelay {
    Handle listener;
    int client_fd;
    CBAddr client;
    Registration *registration;
    time_t deadline;
    PendingRelay *prev, *next;
};

// One relayed TCP stream: side 0 the client, side 1 the server. Bytes from
// side d to the other side wait in pipe d.
struct Splice {
    Handle side[2];
    int pipe_read[2];
    int pipe_write[2];
    size_t pending[2];
    bool eof[2];         // side d has no more to send
    bool shut[2];        // the end of side d's data was passed on
    unsigned events[2];  // what side d is watched for
    time_t last_active;  // when bytes last moved either way
    Splice *prev, *next;
};

// A UDP client relayed to a registered UDP socket through a socket of its
// own on the private address.
struct UdpPeer {
    Handle handle;
    sockaddr_in client;
    Registration *registration;
    time_t last_heard;
    UdpPeer *prev, *next;
};

struct Registration {
    Handle canonical;  // TCP: listens once LISTEN arrived; UDP: relays
    bool udp;
    bool listening;
    int port;  // canonical port, host order
    CBAddr physical;
    char mode;
    Control *manager;
    PendingRelay *pending;
    int pending_count;
    UdpPeer *peers;
    int peer_count;
    Control *passive_waiters;  // destination requests waiting for ACK
    Registration *prev, *next;
};

struct Broker {
    BrokerConfig config;
    int epoll_fd = -1;
    Handle listeners[3] = {{kListenInAgent, -1, nullptr, 0},
                           {kListenRelayServer, -1, nullptr, 0},
                           {kListenDestination, -1, nullptr, 0}};
    Handle signals = {kSignals, -1, nullptr, 0};
    bool stopping = false;
    time_t now = 0;  // seconds on the broker's monotonic clock
    time_t last_sweep = 0;
    // Out of descriptors: listeners stop being watched until a descriptor
    // closes (or a second passes), since a waiting connection would wake
    // the loop at once for an accept that cannot succeed.
    bool accept_paused = false;
    bool pause_said = false;        // the pause was logged; a new one is said again
    unsigned long closes = 0;       // descriptors closed by unwatch_and_close
    unsigned long closes_seen = 0;  // ... when accepting last paused
    int port_cursor = 0;
    Registration **tcp_by_port = nullptr;  // 65536 entries
    Registration **udp_by_port = nullptr;
    Control *controls = nullptr;
    Registration *registrations = nullptr;
    Splice *splices = nullptr;
    // Closed during the current batch, freed after it.
    Control *dead_controls = nullptr;
    PendingRelay *dead_relays = nullptr;
    Splice *dead_splices = nullptr;
    UdpPeer *dead_peers = nullptr;
    Registration *dead_registrations = nullptr;
};

// Doubly linked lists threaded through prev/next.
template <class T>
void list_push(T **head, T *item) {
    item->prev = nullptr;
    item->next = *head;
    if (*head != nullptr) (*head)->prev = item;
    *head = item;
}
template <class T>
void list_remove(T **head, T *item) {
    if (item->prev != nullptr) item->prev->next = item->next;
    if (item->next != nullptr) item->next->prev = item->prev;
    if (*head == item) *head = item->next;
    item->prev = item->next = nullptr;
}

// event_loop.cpp
// Opens the listeners and the signal descriptor. 0, or -1 after printing
// why to standard error.
int broker_open(Broker *broker);
// Runs until SIGTERM or SIGINT, then closes everything. Returns 0.
int broker_run(Broker *broker);
// Reads the clock into broker->now and, once a second, drops stalled
// peers and idle relays.
void broker_tick(Broker *broker);
// Frees what closed during the batch just handled.
void broker_reap(Broker *broker);
// Closes every connection, registration and listener and frees the
// tables; the broker can be opened again.
void broker_close(Broker *broker);
// Adds fd to the epoll set for events, pointing at handle; false on failure.
bool watch(Broker *broker, Handle *handle, unsigned events);
// Changes the events of a watched handle.
void rewatch(Broker *broker, Handle *handle, unsigned events);
// Removes fd from the epoll set and closes it; the handle's fd becomes -1.
void unwatch_and_close(Broker *broker, Handle *handle);
// After an accept failed: when errno says descriptors ran out, stops
// watching the listener and returns true; false for other errors.
bool pause_accepting(Broker *broker, Handle *listener);
// Watches every paused listener again.
void resume_accepting(Broker *broker);
// A non-blocking TCP listener on ip:port (port 0: any); -1 on failure.
int open_listener(in_addr ip, int port, int backlog);
// The text of an address for log lines. Static buffer.
const char *address_text(in_addr ip, in_port_t port);

// control.cpp
void accept_controls(Broker *broker, Handle *listener);
void control_ready(Broker *broker, Control *control, unsigned events);
// Queues one message; a connection that cannot take it is dropped. false
// when the connection is gone.
bool control_send(Broker *broker, Control *control, char opcode, CBAddr canon, char mode,
                  CBAddr physical, unsigned char error);
void control_drop(Broker *broker, Control *control, const char *why);
void sweep_controls(Broker *broker);

// requests.cpp: one whole message from a control connection.
void handle_message(Broker *broker, Control *control, const unsigned char *bytes, int size);

// registration.cpp
// A registration for a BIND: its canonical socket bound on the public
// address at the requested port when that is free and in range, else at
// a free port of the range. Null with errno set when none can be had.
Registration *registration_create(Broker *broker, bool udp, CBAddr requested, CBAddr physical,
                                  char mode, Control *manager);
int registration_listen(Broker *broker, Registration *registration);
void registration_free(Broker *broker, Registration *registration);
// A destination request (control) now waits for the ACK of a passive
// connect to server from client.
void passive_wait(Registration *server, Control *control, CBAddr client);
// The request no longer waits (nothing when it did not).
void passive_forget(Control *control);
Registration *registration_find(Broker *broker, bool udp, CBAddr canonical);

// tcp_relay.cpp
void accept_relay_clients(Broker *broker, Registration *registration);
void relay_server_arrived(Broker *broker, PendingRelay *relay);
void relay_drop(Broker *broker, PendingRelay *relay);
void splice_ready(Broker *broker, Splice *splice);
void splice_close(Broker *broker, Splice *splice);
void sweep_relays(Broker *broker, Registration *registration);
// Closes relayed streams idle for the configured limit.
void sweep_splices(Broker *broker);

// service.cpp: SIGHUP. The log continues at its path (a rotation moved the
// old file away).
void broker_reopen_log(Broker *broker);

// broker_stats.cpp: SIGUSR1. One status line per role into the log, from
// counters kept by these hooks. direction 0 is client to server.
void broker_log_status(Broker *broker);
void stats_refused(Role role, int nak_error);
void stats_dropped(Role role, const char *why);
void stats_relayed(bool udp, int direction, long bytes);

// udp_relay.cpp
void udp_from_clients(Broker *broker, Registration *registration);
void udp_from_server(Broker *broker, UdpPeer *peer);
void udp_peer_close(Broker *broker, UdpPeer *peer);
void sweep_udp_peers(Broker *broker, Registration *registration);

}  // namespace nbx_broker

#endif  // TORVEL_BROKER_BROKER_H_
