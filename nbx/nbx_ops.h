// The brokered operations the dispatch reaches when NBX_ENABLE is "true",
// and the exec road that hands brokered sockets to the next program. Each
// has the signature and result convention of the system call it stands for
// (-1 with errno), initialises the layer first when it is not yet
// initialised, and leaves its NBX error code in _NBX_errno.
//
// Descriptors outside the socket table (negative, or not below the table's
// size) are never managed: the operations pass them to the system.
#ifndef TORVEL_NBX_NBX_OPS_H_
#define TORVEL_NBX_NBX_OPS_H_

#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>

extern "C" {

int NBX_socket(int domain, int type, int protocol);
int NBX_bind(int fd, const struct sockaddr *address, socklen_t length);
int NBX_listen(int fd, int backlog);
int NBX_connect(int fd, const struct sockaddr *address, socklen_t length);
int NBX_accept(int fd, struct sockaddr *address, socklen_t *length);
int NBX_select(int count, fd_set *read_set, fd_set *write_set, fd_set *except_set,
               struct timeval *timeout);
ssize_t NBX_recv(int fd, void *buffer, size_t size, int flags);
ssize_t NBX_read(int fd, void *buffer, size_t size);
ssize_t NBX_recvfrom(int fd, void *buffer, size_t size, int flags, struct sockaddr *address,
                     socklen_t *length);
ssize_t NBX_send(int fd, const void *buffer, size_t size, int flags);
ssize_t NBX_sendto(int fd, const void *buffer, size_t size, int flags,
                   const struct sockaddr *address, socklen_t length);
ssize_t NBX_write(int fd, const void *buffer, size_t size);
int NBX_close(int fd);
int NBX_dup(int fd);
int NBX_dup2(int fd, int target);
int NBX_getsockname(int fd, struct sockaddr *address, socklen_t *length);
int NBX_getsockopt(int fd, int level, int option, void *value, socklen_t *length);

// Bookkeeping of a duplicated brokered descriptor: to joins from's record.
// REQUIRES: both descriptors are in the table and from has a record.
void copySock(int from, int to);

// Takes fd out of the table as closing it through the layer would (its
// record loses a reference, is released with the last one, and ownership
// moves to the lowest remaining descriptor) without closing fd itself.
// REQUIRES: fd is in the table with a TCP or UDP entry.
void _CB_releaseFd(int fd);

// Reading a brokered TCP descriptor: a blocking read waits in the layer's
// select, which keeps serving broker commands meanwhile.
ssize_t TCPrecv(int fd, void *buffer, size_t size, int flags);
// Takes one buffered datagram of a brokered UDP descriptor; address and
// length may be null.
ssize_t UDPrecv(int fd, void *buffer, size_t size, int flags, struct sockaddr *address,
                socklen_t *length);

// The layer's internal wait: select over the caller's sets plus the layer's
// own descriptors, handling broker traffic as it arrives. Does not touch
// _NBX_errno.
int _CB_select(int count, fd_set *read_set, fd_set *write_set, fd_set *except_set,
               struct timeval *timeout);

// _CB_select for the one descriptor fd, for reading or writing, waiting at
// most *timeout (null: no limit). A descriptor beyond an fd_set cannot be
// waited for: -1 with EBADF, like the system's select for a set it cannot
// hold.
int _CB_selectOne(int fd, bool for_write, struct timeval *timeout);

// 0 when a call on fd with flags must not block (MSG_DONTWAIT, or the
// descriptor has O_NONBLOCK), 1 when it may, -1 when the descriptor's flags
// cannot be read (callers treat that like 1). *status_flags receives the
// descriptor's file status flags (0 when unreadable).
int _NBX_is_blocking(int fd, int flags, int *status_flags);

// A blocking send or receive as non-blocking calls plus _CB_select. The
// receive gives -1 with EAGAIN at once when status_flags has O_NONBLOCK or
// flags has MSG_DONTWAIT, and when a given timeout runs out; a null timeout
// waits without limit.
ssize_t _NBX_nonblock_send(int fd, const void *buffer, size_t size, int flags, int status_flags);
ssize_t _NBX_nonblock_recv(int fd, void *buffer, size_t size, int flags, struct timeval *timeout,
                           int status_flags);
ssize_t _NBX_nonblock_recvfrom(int fd, void *buffer, size_t size, int flags,
                               struct sockaddr *address, socklen_t *length, struct timeval *timeout,
                               int status_flags);

// The exec road: hand the table over, then exec through the wrapper.
// Return only on failure (-1 with errno from the exec).
int NBX_execv(const char *path, char * const argv[]);
// When envp is the process's own environment, the environment as it stands
// after the hand-over is passed (the hand-over may move it).
int NBX_execve(const char *path, char * const argv[], char * const envp[]);
// No limit on the number of arguments; running out of memory ends the
// process.
int NBX_execl(const char *path, const char *arg, ...);

// Initialises the layer if needed, then _CB_inheritTo().
void inheritCBsockets(void);

}  // extern "C"

#endif  // TORVEL_NBX_NBX_OPS_H_
