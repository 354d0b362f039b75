// The layer's client side towards the brokers: where the local broker is
// (NBX_INAGENT, port CB_BROKER_PORT), asking it for a relay server, the
// manager connection each registered socket keeps to its relay, and sending
// and receiving one whole message on a connection.
//
// Every connection here is a TCP connection made with the system's calls
// directly, so nothing re-enters the dispatch. No conversation with a broker
// lasts longer than CB_BROKER_TIMEOUT: a broker that does not accept, stays
// silent or stops in the middle of a message fails the step waiting for it
// with ETIMEDOUT, which callers report as an unavailable broker (1002).
// Failures are logged to the layer's log and reflected in _NBX_errno as
// each function says; no descriptor is left open by a failure. Descriptors
// of short conversations are close-on-exec; manager connections are not,
// because they are handed over across exec. The broker's address is looked
// up again at every call: nothing is cached. Single-threaded.
#ifndef TORVEL_NBX_BROKER_CLIENT_H_
#define TORVEL_NBX_BROKER_CLIENT_H_

#include <netinet/in.h>

#include "nbx/sock_table.h"

#define CB_BROKER_PORT 65430       // the local broker (the in-agent)
#define CB_DEST_BROKER_PORT 65432  // a peer's broker, at its canonical address
#define CB_MAX_LOCAL_ADDRESSES 10  // interfaces getBroker can compare against

// Longest time, in seconds, that one conversation with a broker may take:
// from connecting (or sending the request on a manager connection) to the
// last byte of the answer.
#define CB_BROKER_TIMEOUT 30

extern "C" {

// The bound applied, in milliseconds: CB_BROKER_TIMEOUT * 1000. Tests lower
// it; nothing else writes it.
extern int _CB_brokerTimeoutMs;

// Closes fd with the system's call, leaving errno as it was: for failure
// paths that report the error which made them close.
void _CB_closeKeepingErrno(int fd);

// The _NBX_errno of a failed step with a broker, from its result and errno:
// 1002 (the broker is not available) when the broker closed the connection
// (result 0), broke it (EPIPE) or ran out of time (ETIMEDOUT); 1001
// otherwise.
int _CB_brokerErrno(int result, int error);

// A TCP connection to a broker at address, made within the conversation's
// time (ETIMEDOUT when it runs out). The descriptor is blocking; it stays
// open across exec only when inherit is true. -1 with errno from the
// failing call and *socket_failed saying whether no socket could be made.
int _CB_connectBroker(const struct sockaddr_in *address, bool inherit, bool *socket_failed);

// A request connection to the broker of a peer whose canonical address is
// ip (port CB_DEST_BROKER_PORT); as _CB_connectBroker, close-on-exec.
int _CB_connectDestBroker(struct in_addr ip, bool *socket_failed);

// The local broker's address (NBX_INAGENT, port CB_BROKER_PORT), or null
// when no broker is configured: the variable is absent, is no dotted
// address, names one of this host's interface addresses, or the interfaces
// cannot be listed. Static buffer, overwritten by the next call.
struct sockaddr_in *getBroker(void);

// Asks the local broker for a relay server (NEW_SOCK answered by
// RELAY_SERVER). Static buffer, overwritten by the next call; null on
// failure. Without a broker returns null and leaves _NBX_errno alone;
// otherwise a failure sets it: 1002 when the broker is unreachable or
// closed the connection, 1004 for an answer other than RELAY_SERVER, 1001
// for other errors (errno then says why).
struct sockaddr_in *getRelayServer(void);

// Opens a manager connection to a fresh relay server for record: the
// descriptor becomes the record's manager and a MANAGER entry pointing at
// it. Returns the descriptor, or -1 (with _NBX_errno as set by the lookup,
// 1001 when no socket could be made or the descriptor is beyond the table,
// 1002 when the relay is unreachable).
// REQUIRES: record is owned by the table.
int _CB_newManager(SockInfo *record);

// Closes a manager connection: its entry returns to NOT_DEFINED, its
// record's manager becomes -1, _CB_maxfd is lowered if needed. Returns the
// result of close.
int _CB_rmManager(int fd);

// Builds the message of opcode (see _CB_stripeMsg) and writes it whole,
// resuming after EINTR and partial writes, within the conversation's time.
// Returns its size, or -1 after logging the write error (errno kept;
// ETIMEDOUT when the time ran out).
int _CBsend(int fd, char opcode, struct in_addr canon_ip, in_port_t canon_port, char mode,
            struct in_addr phy_ip, in_port_t phy_port, struct in_addr dest_ip, in_port_t dest_port,
            unsigned char error);

// Reads one whole message, resuming after EINTR and partial reads, and
// delivers its fields into the outputs that are not null (see
// _CB_unstripeMsg). Returns the message's size, 0 when the connection closed
// before a whole message arrived, -1 on a read error, a message not whole
// within the conversation's time (errno ETIMEDOUT), a size field outside
// CB_MSG_HEADER..CB_MSG_MAX (its body stays unread) or a message that does
// not parse.
int _CBrecv(int fd, char *opcode, struct in_addr *canon_ip, in_port_t *canon_port, char *mode,
            struct in_addr *phy_ip, in_port_t *phy_port, struct in_addr *dest_ip,
            in_port_t *dest_port, unsigned char *error);

}  // extern "C"

// One conversation with brokers: while the outermost object lives, every
// step made through the functions above must end before one deadline,
// _CB_brokerTimeoutMs after that object was made. Inner objects share the
// outer deadline. A step made outside any conversation has the whole bound
// to itself.
class CBConversation {
 public:
    CBConversation();
    ~CBConversation() { finish(); }
    CBConversation(const CBConversation &) = delete;
    CBConversation &operator=(const CBConversation &) = delete;

    // Ends the conversation early: later steps get their own bound again.
    void finish();

 private:
    bool outermost_;
};

#endif  // TORVEL_NBX_BROKER_CLIENT_H_
