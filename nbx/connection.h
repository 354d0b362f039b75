// Internals of the brokered bind, listen, connect and accept: registering a
// bound socket with the broker, the brokered TCP connection through the
// destination's broker, connect and accept calls that wait at most a given
// time even on a blocking socket, and putting a new socket in place of a
// descriptor. Also two small address helpers the brokered operations share.
//
// Everything here reaches the system's calls directly (never the wrappers),
// works on the socket table of nbx/sock_table.h and is single-threaded.
#ifndef TORVEL_NBX_CONNECTION_H_
#define TORVEL_NBX_CONNECTION_H_

#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "nbx/sock_table.h"

// Longest wait of a brokered connection attempt (active or passive), seconds.
#define CB_CONNECT_TIMEOUT 120
// Backlog of a socket that waits for its peer to connect in.
#define CB_PASSIVE_BACKLOG 5
// Room for one sinful address text.
#define CB_ADDR_TEXT_SIZE 32

// How a connection (or UDP channel) through the brokers ended.
enum CBConnectOutcome {
    CB_CONNECT_FAILED = -1,  // the call fails (errno and _NBX_errno say why)
    CB_GO_DIRECT = 0,        // the brokers cannot help: connect (or send) directly
    CB_CONNECTED = 1,        // connected, or the channel is open
};

extern "C" {

// The brokered bind without the descriptor-range check and trace lines,
// used to bind an unbound UDP socket before its first sendto. A missing
// physical address is always the host's own (_myIP). _NBX_errno ends 1001
// when the registration fails, 0 otherwise.
// REQUIRES: address is a 16-byte AF_INET address.
int _CB_bind(int fd, const struct sockaddr *address, socklen_t length);

// Registers the bound socket fd with the broker (TCP_BIND or UDP_BIND on a
// new manager connection, answered by BIND_OK): its canonical address
// becomes the one the broker assigned. port is the requested port, network
// byte order. 0, or -1 with _NBX_errno set and the manager connection
// closed.
// REQUIRES: fd is a brokered TCP or UDP descriptor with a record.
int registerSock(int fd, in_port_t port);

// The brokered TCP connection of info's owner to destination through the
// destination's broker. CB_CONNECT_FAILED with errno EINPROGRESS: a
// non-blocking socket still waiting, completed later by the event handling.
CBConnectOutcome NBX_TCP_connect(SockInfo *info, const struct sockaddr_in *destination);

// connect and accept that wait at most *timeout (null: no limit) even on a
// blocking descriptor; a non-blocking descriptor gets the plain call. The
// descriptor's file status flags are restored. A wait that runs out gives
// -1 with ETIMEDOUT.
int _CB_do_connect(int fd, const struct sockaddr *address, socklen_t length,
                   struct timeval *timeout);
int _CB_do_accept(int fd, struct sockaddr *address, socklen_t *length, struct timeval *timeout);

// Makes descriptor fd refer to the socket of new_fd (with fd's file status
// flags) and closes new_fd. 0, or -1 (logged); new_fd is closed on every
// path.
int _CB_replaceFD(int fd, int new_fd);

}  // extern "C"

// The sinful text of an address copied into out (CB_ADDR_TEXT_SIZE bytes),
// so that two addresses can appear in one log line.
inline const char *_CB_addrText(char *out, struct in_addr ip, in_port_t port) {
    snprintf(out, CB_ADDR_TEXT_SIZE, "%s", _ipport2str(ip, port));
    return out;
}

// A 16-byte AF_INET address from an address and port in network order.
inline struct sockaddr_in _CB_sockaddr(struct in_addr ip, in_port_t port) {
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr = ip;
    address.sin_port = port;
    return address;
}

#endif  // TORVEL_NBX_CONNECTION_H_
