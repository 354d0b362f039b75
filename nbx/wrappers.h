// The socket-call and exec indirection. Programs that carry the whole
// library are linked with --wrap for each call below, so their calls of
// socket, read, close, execv, ... land in the __wrap_ functions, and
// __real_<name> names the system's function. Each wrapper has exactly the
// signature and result of the call it wraps.
//
// Process-wide state: the re-entrancy flag _CB_inWrapper (one value for the
// process, not per thread). While it is 1 every wrapper goes straight to the
// system; the layer's own code calls __real_* directly in any case.
#ifndef TORVEL_NBX_WRAPPERS_H_
#define TORVEL_NBX_WRAPPERS_H_

#include <stdarg.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>

// Most arguments __wrap_execl and Generic_execl gather, without the null.
#define CB_EXECL_MAX_ARGS 19

extern "C" {

extern int _CB_inWrapper;

int __wrap_socket(int domain, int type, int protocol);
int __wrap_bind(int fd, const struct sockaddr *address, socklen_t length);
int __wrap_listen(int fd, int backlog);
int __wrap_connect(int fd, const struct sockaddr *address, socklen_t length);
int __wrap_accept(int fd, struct sockaddr *address, socklen_t *length);
int __wrap_select(int count, fd_set *read_set, fd_set *write_set, fd_set *except_set,
                  struct timeval *timeout);
ssize_t __wrap_recv(int fd, void *buffer, size_t size, int flags);
ssize_t __wrap_read(int fd, void *buffer, size_t size);
ssize_t __wrap_recvfrom(int fd, void *buffer, size_t size, int flags, struct sockaddr *address,
                        socklen_t *length);
ssize_t __wrap_send(int fd, const void *buffer, size_t size, int flags);
ssize_t __wrap_sendto(int fd, const void *buffer, size_t size, int flags,
                      const struct sockaddr *address, socklen_t length);
ssize_t __wrap_write(int fd, const void *buffer, size_t size);
int __wrap_close(int fd);
int __wrap_dup(int fd);
int __wrap_dup2(int fd, int target);
int __wrap_getsockname(int fd, struct sockaddr *address, socklen_t *length);
int __wrap_getsockopt(int fd, int level, int option, void *value, socklen_t *length);
// Return only on failure: -1 with errno from the system's exec.
// REQUIRES: argv (and envp) are null-terminated.
int __wrap_execv(const char *path, char * const argv[]);
int __wrap_execve(const char *path, char * const argv[], char * const envp[]);
// At most 19 arguments after path (the vector holds 20 entries with the
// terminating null); more give -1 with E2BIG and no exec.
int __wrap_execl(const char *path, const char *arg, ...);

// The system's functions, resolved by the linker's --wrap.
int __real_socket(int domain, int type, int protocol);
int __real_bind(int fd, const struct sockaddr *address, socklen_t length);
int __real_listen(int fd, int backlog);
int __real_connect(int fd, const struct sockaddr *address, socklen_t length);
int __real_accept(int fd, struct sockaddr *address, socklen_t *length);
int __real_select(int count, fd_set *read_set, fd_set *write_set, fd_set *except_set,
                  struct timeval *timeout);
ssize_t __real_recv(int fd, void *buffer, size_t size, int flags);
ssize_t __real_read(int fd, void *buffer, size_t size);
ssize_t __real_recvfrom(int fd, void *buffer, size_t size, int flags, struct sockaddr *address,
                        socklen_t *length);
ssize_t __real_send(int fd, const void *buffer, size_t size, int flags);
ssize_t __real_sendto(int fd, const void *buffer, size_t size, int flags,
                      const struct sockaddr *address, socklen_t length);
ssize_t __real_write(int fd, const void *buffer, size_t size);
int __real_close(int fd);
int __real_dup(int fd);
int __real_dup2(int fd, int target);
int __real_getsockname(int fd, struct sockaddr *address, socklen_t *length);
int __real_getsockopt(int fd, int level, int option, void *value, socklen_t *length);
int __real_execv(const char *path, char * const argv[]);
int __real_execve(const char *path, char * const argv[], char * const envp[]);

// Copies arg and the arguments of args up to and including the terminating
// null into argv. Returns the number of arguments before the null, or -1
// when there are more than CB_EXECL_MAX_ARGS.
int _CB_gatherExeclArgs(const char *arg, va_list args, char *argv[]);

}  // extern "C"

#endif  // TORVEL_NBX_WRAPPERS_H_
