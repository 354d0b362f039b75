// Helper program for the exec hand-over test, run with NBX_ENABLE "true".
// Stage one (no arguments) builds brokered-table entries through the
// wrapped socket calls: a bound TCP socket and a dup of it, a connected UDP
// socket, a TCP socket marked close-on-exec, and a listening socket with a
// manager connection and one queued connection. It then execs itself
// through the wrapper with "stage2" and the descriptor numbers. Stage two
// prints the hand-over value it found, initialises the layer, checks what
// it took over and how the table then behaves, and prints "stage2 ok" or a
// "FAIL: " line per problem. Exit status: 0 ok, 1 failures, 2 set-up error.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "nbx/inherit.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

const char *mySubSystem = "TOOL";

namespace {

enum Slot { kTcp, kTcpDup, kUdp, kDoomed, kListener, kManager, kQueued, kClient, kSlots };
const char * const kSlotNames[kSlots] = {"tcp",      "tcp_dup", "udp",    "doomed",
                                         "listener", "manager", "queued", "client"};

int failures = 0;

void Check(bool ok, const std::string &what) {
    if (!ok) {
        printf("FAIL: %s\n", what.c_str());
        ++failures;
    }
}

sockaddr_in Loopback(int port) {
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<in_port_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

sockaddr *Sa(sockaddr_in *a) {
    return reinterpret_cast<sockaddr *>(a);
}

CBAddr LocalOf(int fd) {
    sockaddr_in address;
    socklen_t length = sizeof address;
    memset(&address, 0, sizeof address);
    __real_getsockname(fd, Sa(&address), &length);
    return CBAddr{address.sin_addr, address.sin_port};
}

bool SameAddr(const CBAddr &a, const CBAddr &b) {
    return a.ip.s_addr == b.ip.s_addr && a.port == b.port;
}

// Makes the bound TCP socket, its duplicate, the connected UDP socket and the
// close-on-exec one; false when a call fails or the layer made no entry.
bool MakePlainSockets(int *fds) {
    // Through the wrappers, as an application would.
    fds[kTcp] = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    if (fds[kTcp] < 0 || bind(fds[kTcp], Sa(&address), sizeof address) != 0) return false;
    if (!_CB_inTable(fds[kTcp]) || _CB_fdInfo[fds[kTcp]].info == nullptr) {
        fprintf(stderr, "socket() made no table entry: is NBX_ENABLE \"true\"?\n");
        return false;
    }
    SockInfo *tcp = _CB_fdInfo[fds[kTcp]].info;
    tcp->status = BOUND;
    tcp->phyAddr = LocalOf(fds[kTcp]);
    tcp->canon = tcp->phyAddr;
    fds[kTcpDup] = dup(fds[kTcp]);

    fds[kUdp] = socket(AF_INET, SOCK_DGRAM, 0);
    SockInfo *udp = _CB_fdInfo[fds[kUdp]].info;
    udp->status = CONNECTED;
    udp->connected = static_cast<CBAddr *>(malloc(sizeof(CBAddr)));
    sockaddr_in peer = Loopback(9);
    *udp->connected = CBAddr{peer.sin_addr, peer.sin_port};

    fds[kDoomed] = socket(AF_INET, SOCK_STREAM, 0);
    fcntl(fds[kDoomed], F_SETFD, FD_CLOEXEC);
    return true;
}

// Makes the listener with its manager connection and one queued client;
// false when a call fails.
bool MakeListener(int *fds) {
    fds[kListener] = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    if (bind(fds[kListener], Sa(&address), sizeof address) != 0 || listen(fds[kListener], 5) != 0) {
        return false;
    }
    SockInfo *listener = _CB_fdInfo[fds[kListener]].info;
    listener->status = LISTENING;
    listener->mode = ACTIVE;
    listener->phyAddr = LocalOf(fds[kListener]);
    listener->canon = listener->phyAddr;
    // The layer's own descriptors are made with the system's calls.
    fds[kManager] = __real_socket(AF_INET, SOCK_STREAM, 0);
    listener->manager = fds[kManager];
    _CB_fdInfo[fds[kManager]] = FdInfo{MANAGER, listener};
    _CB_raisemaxfd(fds[kManager]);
    fds[kClient] = __real_socket(AF_INET, SOCK_STREAM, 0);
    address = Loopback(ntohs(listener->phyAddr.port));
    if (__real_connect(fds[kClient], Sa(&address), sizeof address) != 0) return false;
    fds[kQueued] = __real_accept(fds[kListener], nullptr, nullptr);
    if (fds[kQueued] < 0) return false;
    CBAddr client = LocalOf(fds[kClient]);
    CBConn *conn = static_cast<CBConn *>(calloc(1, sizeof(CBConn)));
    conn->fd = fds[kQueued];
    conn->ip = client.ip;
    conn->port = client.port;
    listener->conn_q_head = listener->conn_q_tail = conn;
    return true;
}

int StageOne(const char *self) {
    int fds[kSlots];
    if (!MakePlainSockets(fds) || !MakeListener(fds)) {
        return 2;
    }
    std::string numbers[kSlots];
    char *argv[kSlots + 3];
    argv[0] = const_cast<char *>(self);
    argv[1] = const_cast<char *>("stage2");
    for (int i = 0; i < kSlots; ++i) {
        numbers[i] = std::to_string(fds[i]);
        argv[i + 2] = &numbers[i][0];
    }
    argv[kSlots + 2] = nullptr;
    execv(self, argv);
    perror("execv");
    return 2;
}

void CheckTakeOver(const int *fds) {
    char name[32];
    _CB_inheritName(name);
    Check(getenv(name) == nullptr, "the hand-over variable is still set");
    Check(_CB_initialized == 1, "the layer is not initialised");
    struct sigaction action;
    sigaction(SIGPIPE, nullptr, &action);
    Check(action.sa_handler == SIG_IGN, "SIGPIPE is not ignored");

    SockInfo *tcp = _CB_fdInfo[fds[kTcp]].info;
    Check(_CB_fdInfo[fds[kTcp]].type == TCP && tcp != nullptr, "tcp not taken over");
    if (tcp == nullptr) return;
    Check(_CB_fdInfo[fds[kTcpDup]].info == tcp, "tcp_dup does not share the record");
    Check(_CB_fdInfo[fds[kTcpDup]].type == TCP, "tcp_dup is not TCP");
    Check(tcp->refs == 2, "tcp refs " + std::to_string(tcp->refs));
    Check(tcp->owner == fds[kTcp], "tcp owner " + std::to_string(tcp->owner));
    Check(tcp->status == BOUND && tcp->mode == PASSIVE, "tcp status or mode");
    Check(SameAddr(tcp->phyAddr, LocalOf(fds[kTcp])), "tcp phyAddr differs");
    Check(SameAddr(tcp->canon, tcp->phyAddr), "tcp canon differs");
    Check(tcp->manager == -1, "tcp manager");

    SockInfo *udp = _CB_fdInfo[fds[kUdp]].info;
    Check(_CB_fdInfo[fds[kUdp]].type == UDP && udp != nullptr, "udp not taken over");
    if (udp != nullptr) {
        Check(udp->status == CONNECTED && udp->refs == 1, "udp status or refs");
        sockaddr_in peer = Loopback(9);
        Check(udp->connected != nullptr &&
                  SameAddr(*udp->connected, CBAddr{peer.sin_addr, peer.sin_port}),
              "udp peer");
    }

    Check(_CB_fdInfo[fds[kDoomed]].type == NOT_DEFINED, "close-on-exec socket in table");
    Check(fcntl(fds[kDoomed], F_GETFD) < 0, "close-on-exec socket still open");

    SockInfo *listener = _CB_fdInfo[fds[kListener]].info;
    Check(listener != nullptr && listener->status == LISTENING && listener->mode == ACTIVE,
          "listener not taken over as listening");
    if (listener == nullptr) return;
    Check(listener->manager == fds[kManager], "listener manager number");
    Check(_CB_fdInfo[fds[kManager]].type == MANAGER && _CB_fdInfo[fds[kManager]].info == listener,
          "manager entry");
    CBConn *conn = listener->conn_q_head;
    Check(conn != nullptr && conn->next == nullptr && conn->fd == fds[kQueued],
          "queued connection");
    if (conn != nullptr) {
        Check(SameAddr(CBAddr{conn->ip, conn->port}, LocalOf(fds[kClient])),
              "queued connection's peer");
    }
    Check(_CB_isHiddenFd(fds[kQueued]), "queued connection not hidden");
    int highest = 0;
    for (int i = 0; i < kSlots; ++i) {
        if (i != kDoomed && i != kQueued && i != kClient && fds[i] > highest) highest = fds[i];
    }
    Check(_CB_maxfd == highest + 1, "_CB_maxfd " + std::to_string(_CB_maxfd));
}

// The taken-over table behaves like one built in this program.
void CheckAfterTakeOver(const int *fds) {
    SockInfo *tcp = _CB_fdInfo[fds[kTcp]].info;
    Check(close(fds[kTcp]) == 0, "close tcp");
    Check(tcp->refs == 1 && tcp->owner == fds[kTcpDup], "owner after closing tcp");
    Check(close(fds[kTcpDup]) == 0, "close tcp_dup");
    Check(_CB_fdInfo[fds[kTcpDup]].type == NOT_DEFINED, "tcp_dup entry after close");
    Check(close(fds[kListener]) == 0, "close listener");
    Check(fcntl(fds[kManager], F_GETFD) < 0, "manager left open after last close");
    Check(fcntl(fds[kQueued], F_GETFD) >= 0, "queued connection was closed");
    Check(close(fds[kUdp]) == 0, "close udp");
    Check(_CB_maxfd == 0, "_CB_maxfd after closing everything");
}

int StageTwo(char **numbers) {
    int fds[kSlots];
    for (int i = 0; i < kSlots; ++i) fds[i] = atoi(numbers[i]);
    char name[32];
    _CB_inheritName(name);
    const char *value = getenv(name);
    printf("handover=%s\n", value != nullptr ? value : "<absent>");
    for (int i = 0; i < kSlots; ++i) printf("%s=%d\n", kSlotNames[i], fds[i]);
    Check(_CB_initialized == 0, "the layer is initialised before use");
    close(-1);  // the first brokered call initialises the layer
    CheckTakeOver(fds);
    if (failures == 0) CheckAfterTakeOver(fds);
    if (failures == 0) printf("stage2 ok\n");
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 1) return StageOne(argv[0]);
    if (argc == kSlots + 2 && strcmp(argv[1], "stage2") == 0) return StageTwo(argv + 2);
    fprintf(stderr, "usage: %s [stage2 fds...]\n", argv[0]);
    return 2;
}
