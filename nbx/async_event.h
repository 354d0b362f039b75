// The layer's event handling, run inside every brokered wait: adding the
// layer's own descriptors to a select, turning the kernel's readiness into
// what the application expects of brokered sockets, the handlers for each
// ready descriptor (broker commands on manager connections, connections to
// listening sockets, passive and non-blocking connects in progress), the
// heartbeats on manager connections and the re-registration of sockets
// after the broker went away.
//
// Touches the socket table, the time stamps of nbx/sock_table.h and the
// broker-down handler. Nothing here runs on its own: it progresses only
// while the application is inside a brokered call. Single-threaded.
#ifndef TORVEL_NBX_ASYNC_EVENT_H_
#define TORVEL_NBX_ASYNC_EVENT_H_

#include <netinet/in.h>
#include <sys/select.h>
#include <time.h>

#include "nbx/sock_table.h"

#define CB_HEARTBEAT_INTERVAL 40  // heartbeat when more than this has passed
#define CB_SELECT_SLICE 40        // longest single wait, seconds
#define CB_SLICE_NO_TIMEOUT 15    // wait per pass without a caller time-out
#define CB_RECOVERY_DELAY 15      // broker down / last attempt, seconds
#define CB_PASSIVE_LIMIT 120      // a passive connect older than this fails
#define CB_FLUSH_INTERVAL 250     // receiver lists are forgotten this often
#define CB_POLL_INTERVAL 14       // _CB_checkAsyncEvent does nothing sooner

extern "C" {

// Adds the layer's descriptors to the sets: manager connections, UDP
// owners and listening or passively connecting TCP owners for reading,
// actively connecting TCP owners for writing; *count grows to cover them.
// Descriptors at or above FD_SETSIZE are left out.
void _CB_addFDs(int *count, fd_set *read_set, fd_set *write_set);

// What the application sees of the kernel's result: for each descriptor
// below count that the caller asked about (asked_* may be null), whether it
// is reported readable or writable, into out_read and out_write (which the
// caller zeroed). Returns the number of bits set. A TCP record in an
// impossible status ends the process.
int adjustFDs(int count, fd_set *asked_read, fd_set *asked_write, fd_set *kernel_read,
              fd_set *kernel_write, fd_set *out_read, fd_set *out_write);

// Runs the handler of every descriptor below count that is ready in the
// results, and fails passive connects that waited too long. A manager whose
// command fails is removed from both results.
void _CB_handleAsyncEvent(int count, fd_set *read_result, fd_set *write_result);

// One non-blocking pass of event handling (recovery, heartbeat, a zero-wait
// poll of the layer's descriptors) unless one ran within CB_POLL_INTERVAL
// seconds. 0, or -1 when the poll fails.
int _CB_checkAsyncEvent(void);

// One command from the broker on a manager connection. 0 handled (or
// ignored), -1 failure; a lost connection marks the record NEED_RECOVER
// and the broker down.
int handleNBXcommand(int manager);

// A CONTACT for a listening socket: connects to ip:port and queues the new
// connection for accept. 0 or -1.
int handleContact(SockInfo *info, struct in_addr ip, in_port_t port);

// Appends a connection to info's conn_q (accept hands it out later);
// running out of memory ends the process.
void _CB_queueConn(SockInfo *info, int fd, struct in_addr ip, in_port_t port);

// Accepts a connection on a listening owner and queues it. 0 or -1.
int handleListeners(SockInfo *info);

// A passive connect whose socket became readable: the accepted connection
// takes the socket's place (CONNECTED), or the connect fails. 0 or -1.
int handleBlkConns(SockInfo *info);

// A non-blocking connect in progress: its pending error decides between
// CONNECTED and CONN_FAILED. 0 or -1.
int handleActiveBlkedConn(SockInfo *info);

// HEARTBEAT on every live manager connection; a failed one starts
// recovery, otherwise receivers are flushed every CB_FLUSH_INTERVAL.
void _CB_triggerHeartBeat(time_t now);

// Re-registers every socket whose manager connection was lost. 0 when all
// succeeded (the broker counts as up again), -1 at the first failure, after
// which the application's handler may be called.
int _CB_recoverNBXsockets(void);

// Re-registers one socket with its old canonical address; relisten repeats
// its LISTEN. 0 or -1.
// REQUIRES: info is a record of the table.
int rebind(SockInfo *info);
int relisten(SockInfo *info);

}  // extern "C"

#endif  // TORVEL_NBX_ASYNC_EVENT_H_
