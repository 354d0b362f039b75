// Internals of the brokered UDP channels: the receiver list of a socket
// (the physical address to which datagrams for a canonical peer go), the
// channel handshakes through the destination's broker (INIT_COMM) and with
// the peer itself (DUMMY and DUMMY_ACK datagrams), and the sorting of every
// datagram the layer reads into control messages and buffered data.
//
// Works on the socket table's UDP records; reaches the system's calls
// directly. Handshakes block the calling operation for a bounded time (10
// seconds waiting for a DUMMY, 5 times 2 seconds for a DUMMY_ACK).
// Single-threaded.
#ifndef TORVEL_NBX_UDP_CHANNEL_H_
#define TORVEL_NBX_UDP_CHANNEL_H_

#include <netinet/in.h>
#include <sys/socket.h>

#include "nbx/connection.h"
#include "nbx/sock_table.h"

#define CB_UDP_RCV_BUF_MAX 50   // buffered datagrams per socket
#define CB_UDP_READ_SIZE 65536  // largest datagram read at once
#define CB_DUMMY_SIZE 15        // DUMMY and DUMMY_ACK datagrams
#define CB_DUMMY_WAIT 10        // seconds to wait for a peer's DUMMY
#define CB_TRIGGER_ATTEMPTS 5   // DUMMYs sent after a TRIGGER
#define CB_TRIGGER_WAIT 2       // seconds per DUMMY_ACK wait

// handleUDPmsg results.
enum {
    CB_UDP_DUMMY_IGNORED = 0,
    CB_UDP_DUMMY_ANSWERED = 1,
    CB_UDP_DUMMY_ACK = 2,
    CB_UDP_DATA = 3,
};

extern "C" {

// Adds a receiver in front of the list unless one with the same canonical
// address and port exists (which stays unchanged). Always 0; running out of
// memory ends the process.
int _CB_addRcvr(SockInfo *info, struct in_addr canon_ip, in_port_t canon_port,
                struct in_addr phy_ip, in_port_t phy_port);
// The receiver of a canonical address and port, or null. Owned by the record.
CBRcver *_CB_getRcvr(SockInfo *info, struct in_addr canon_ip, in_port_t canon_port);
// Forgets every receiver of the record.
void _CB_delRcvrs(SockInfo *info);

// Opens a channel from info's socket to the peer's canonical address through
// the peer's broker: CB_CONNECTED open (*physical is where datagrams go),
// CB_GO_DIRECT send plainly, CB_CONNECT_FAILED (_NBX_errno set).
CBConnectOutcome _CB_openchannel(SockInfo *info, struct in_addr peer_ip, in_port_t peer_port,
                                 struct sockaddr_in *physical);

// Waits up to CB_DUMMY_WAIT seconds for the peer's DUMMY on fd, answering
// and buffering whatever else arrives; *physical becomes the DUMMY's source.
// 0 or -1.
int _CB_handleDummy(int fd, struct in_addr peer_ip, in_port_t peer_port,
                    struct sockaddr_in *physical);

// After a TRIGGER: sends DUMMYs to the peer's physical address until it
// acknowledges (the peer becomes a receiver). 0 acknowledged or given up,
// -1 failure.
int handleTrigger(int fd, struct in_addr canon_ip, in_port_t canon_port, struct in_addr phy_ip,
                  in_port_t phy_port);

// Sorts one datagram read from fd: answers a DUMMY for this socket, reports
// a DUMMY_ACK, buffers data (dropping it when the buffer is full). The
// sender of a DUMMY or DUMMY_ACK goes to the outputs that are not null.
// source may be null. Returns a CB_UDP_ result, or -1.
int handleUDPmsg(int fd, const char *data, int size, const struct sockaddr *source,
                 socklen_t source_length, struct in_addr *sender_ip, in_port_t *sender_port);

// Reads one datagram from a ready UDP owner and sorts it. 0 or -1.
int handleFDasyncMsg(int fd);

}  // extern "C"

#endif  // TORVEL_NBX_UDP_CHANNEL_H_
