// The brokering layer's socket table: one FdInfo entry per descriptor number
// and one SockInfo record per brokered socket, shared by every descriptor
// that refers to it, plus the process-wide state the brokered operations
// share (highest descriptor in use, error code, time stamps). All of it is
// plain process-wide data without locks; the layer is single-threaded.
//
// The table is allocated once by _CB_initialize() and never freed; records
// are calloc()ed and released only through _CB_freeSockInfo().
#ifndef TORVEL_NBX_SOCK_TABLE_H_
#define TORVEL_NBX_SOCK_TABLE_H_

#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

// Kinds of table entries.
enum FdType {
    NOT_DEFINED = 0,  // a descriptor the layer does not manage
    TCP = 1,          // a brokered TCP socket
    UDP = 2,          // a brokered UDP socket
    MANAGER = 3,      // the layer's own connection to the broker for one socket
};

// SockInfo.status values.
enum SockStatus {
    NONE = 4,
    CREATED = 5,
    BOUND = 6,
    LISTENING = 7,
    ACTIVE_CONNECTING = 8,   // a non-blocking active connection is in progress
    PASSIVE_CONNECTING = 9,  // waiting for the peer to connect to us
    CONNECTED = 10,
    CONN_FAILED = 11,
};

// SockInfo.mode values.
enum SockMode {
    ACTIVE = 'A',   // a broker was configured when the socket was created
    PASSIVE = 'B',  // no broker
};

// SockInfo.manager when the manager connection was lost.
enum { NEED_RECOVER = -2 };

// An IPv4 address and port, both in network byte order.
struct CBAddr {
    struct in_addr ip;
    in_port_t port;
};

// A connection accepted for a listening socket, not yet handed out.
struct CBConn {
    int fd;
    struct in_addr ip;  // the peer
    in_port_t port;     // network byte order
    CBConn *next;
};

// A UDP receiver known to a socket; new entries go to the front.
struct CBRcver {
    CBAddr canon;
    CBAddr phy;
    CBRcver *prev;
    CBRcver *next;
};

// A UDP datagram read for a socket and not yet delivered.
struct CBDatagram {
    int size;
    char *data;  // malloc()ed copy of the bytes
    struct sockaddr from;
    CBDatagram *next;
};

struct SockInfo {
    int owner;          // the lowest descriptor referring to the record
    int manager;        // manager descriptor, -1 for none, NEED_RECOVER
    unsigned int refs;  // descriptors referring to the record
    CBAddr canon;       // where peers reach the socket
    char mode;          // ACTIVE or PASSIVE
    int status;         // a SockStatus
    time_t pendingSince;
    CBAddr phyAddr;  // the local address and port
    int error;       // errno of the last failed connection attempt
    CBConn *conn_q_head;
    CBConn *conn_q_tail;
    CBAddr *connected;  // peer of a connected UDP socket; malloc()ed or null
    CBRcver *rcvers;
    int rcv_count;
    CBDatagram *rcv_buf_head;
    CBDatagram *rcv_buf_tail;
};

struct FdInfo {
    int type;        // an FdType
    SockInfo *info;  // null for NOT_DEFINED; owned by the table
};

extern "C" {

extern FdInfo *_CB_fdInfo;   // _NBX_max_no_fds entries once initialised
extern int _NBX_max_no_fds;  // getdtablesize() at initialisation
extern int _CB_maxfd;        // one above the highest entry in use, or 0
extern int _CB_initialized;
extern int _NBX_errno;  // NBX error code of the last brokered operation

// The layer's clock for every time stamp below and every limit measured
// from one: wall-clock seconds as they were when it was first read, moved
// on by the monotonic clock since, so a step of the wall clock never
// stretches or cuts a limit. _CB_clockRead reads the clocks (clock_gettime;
// a test's stand-in).
time_t _CB_now(void);
extern int (*_CB_clockRead)(clockid_t id, struct timespec *now);

extern time_t _CB_lastCheck;
extern time_t _CB_lastHeartBeat;
extern time_t _CB_lastFlush;
extern time_t _CB_lastRecovery;
extern time_t _Broker_down_since;
extern void (*_Broker_down_app_callback)(void);
extern int _Broker_down_max;

// True when fd has an entry in the table (the table exists and fd is in
// range). Descriptors outside it are never managed.
int _CB_inTable(int fd);

// Initialises the layer: log, table, SIGPIPE ignored, take-over of inherited
// sockets. Ends the process with status 1 when the table cannot be allocated.
void _CB_initialize(void);

// Closes every descriptor that has a record through NBX_close and resets
// the time stamps. The layer stays initialised.
void _CB_cleanup(void);

// Called after fd, which was _CB_maxfd - 1, has been cleared: lowers
// _CB_maxfd to one above the highest entry still in use.
void _CB_setmaxfd(int fd);

// Raises _CB_maxfd so that fd is below it.
void _CB_raisemaxfd(int fd);

// Releases a record with its queued connections (left open), receivers,
// buffered datagrams and peer record. A null record is ignored.
void _CB_freeSockInfo(SockInfo *info);
void _CB_freeConnQ(SockInfo *info);

// True when fd waits in the conn_q of some record below _CB_maxfd.
int _CB_isHiddenFd(int fd);

// Logs one line describing the record at level, after prefix.
void _CB_dumpSockInfo(SockInfo *info, int level, const char *prefix);

// Sets the broker-down handler and its delay, and clears _Broker_down_since.
void NBX_Broker_down_callback_set(void (*handler)(void), int seconds);

// The sinful text "<a.b.c.d:port>" of an address and port in network byte
// order; 0.0.0.0 is written as such. Static buffer, overwritten by the next
// call.
char *_ipport2str(struct in_addr ip, in_port_t port);

// 1 when the address (host byte order) lies in 10.0.0.0/8, 172.16.0.0/12 or
// 192.168.0.0/16, else 0.
int _priv_net(in_addr_t address);

}  // extern "C"

#endif  // TORVEL_NBX_SOCK_TABLE_H_
