// Relayed UDP datagrams. Datagrams reaching a canonical UDP port are sent
// on to the registered socket's physical address from a socket of the
// broker's own, one per client, on the private address; what the server
// sends back to that socket goes to the client from the canonical port, so
// the client hears the canonical address answer. Nothing is queued in the
// broker: a datagram the kernel will not take at once is dropped, as UDP
// may.
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

const int kDatagramsPerWakeUp = 64;

// One datagram buffer for the whole process: datagrams are passed on
// before the next is read.
unsigned char datagram[65536];

bool same_client(const sockaddr_in &a, const sockaddr_in &b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

UdpPeer *find_peer(Registration *registration, const sockaddr_in &client) {
    for (UdpPeer *peer = registration->peers; peer != nullptr; peer = peer->next) {
        if (same_client(peer->client, client)) return peer;
    }
    return nullptr;
}

UdpPeer *least_recent(Registration *registration) {
    UdpPeer *oldest = registration->peers;
    for (UdpPeer *peer = registration->peers; peer != nullptr; peer = peer->next) {
        if (peer->last_heard < oldest->last_heard) oldest = peer;
    }
    return oldest;
}

UdpPeer *new_peer(Broker *broker, Registration *registration, const sockaddr_in &client) {
    if (registration->peer_count >= kMaxUdpPeers) {
        udp_peer_close(broker, least_recent(registration));
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in local;
    memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_addr = broker->config.private_ip;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        broker_log("can't relay UDP to port %d: %s\n", registration->port, strerror(errno));
        if (fd >= 0) close(fd);
        return nullptr;
    }
    UdpPeer *peer = static_cast<UdpPeer *>(calloc(1, sizeof(UdpPeer)));
    if (peer == nullptr) {
        close(fd);
        return nullptr;
    }
    peer->handle = Handle{kUdpPeerSocket, fd, peer, 0};
    peer->client = client;
    peer->registration = registration;
    list_push(&registration->peers, peer);
    ++registration->peer_count;
    if (!watch(broker, &peer->handle, EPOLLIN)) {
        udp_peer_close(broker, peer);
        return nullptr;
    }
    broker_log_full("relaying UDP %s to port %d\n", address_text(client.sin_addr, client.sin_port),
                    registration->port);
    return peer;
}

}  // namespace

void udp_from_clients(Broker *broker, Registration *registration) {
    for (int i = 0; i < kDatagramsPerWakeUp; ++i) {
        sockaddr_in client;
        socklen_t length = sizeof client;
        ssize_t n = recvfrom(registration->canonical.fd, datagram, sizeof datagram, MSG_DONTWAIT,
                             reinterpret_cast<sockaddr *>(&client), &length);
        if (n < 0) return;
        UdpPeer *peer = find_peer(registration, client);
        if (peer == nullptr) peer = new_peer(broker, registration, client);
        if (peer == nullptr) continue;
        peer->last_heard = broker->now;
        sockaddr_in server;
        memset(&server, 0, sizeof server);
        server.sin_family = AF_INET;
        server.sin_addr = registration->physical.ip;
        server.sin_port = registration->physical.port;
        stats_relayed(true, 0,
                      sendto(peer->handle.fd, datagram, static_cast<size_t>(n), MSG_DONTWAIT,
                             reinterpret_cast<sockaddr *>(&server), sizeof server));
    }
}

void udp_from_server(Broker *broker, UdpPeer *peer) {
    Registration *registration = peer->registration;
    for (int i = 0; i < kDatagramsPerWakeUp; ++i) {
        ssize_t n = recv(peer->handle.fd, datagram, sizeof datagram, MSG_DONTWAIT);
        if (n < 0) return;
        peer->last_heard = broker->now;
        stats_relayed(
            true, 1,
            sendto(registration->canonical.fd, datagram, static_cast<size_t>(n), MSG_DONTWAIT,
                   reinterpret_cast<sockaddr *>(&peer->client), sizeof peer->client));
    }
}

void udp_peer_close(Broker *broker, UdpPeer *peer) {
    unwatch_and_close(broker, &peer->handle);
    Registration *registration = peer->registration;
    list_remove(&registration->peers, peer);
    --registration->peer_count;
    peer->next = broker->dead_peers;
    broker->dead_peers = peer;
}

void sweep_udp_peers(Broker *broker, Registration *registration) {
    for (UdpPeer *peer = registration->peers; peer != nullptr;) {
        UdpPeer *next = peer->next;
        if (broker->now - peer->last_heard > kUdpPeerIdleSeconds) udp_peer_close(broker, peer);
        peer = next;
    }
}

}  // namespace nbx_broker
